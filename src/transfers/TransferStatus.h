#pragma once

// The status texts of download and upload entries. Which of them count as active is decided
// by the `is_active` mark alone, which the manager puts on "requesting", "connecting",
// "waiting for offset", "downloading" and "uploading".
namespace transfer_status
{
inline constexpr const char* Queued = "queued";
inline constexpr const char* Requesting = "requesting";
inline constexpr const char* Connecting = "connecting";
inline constexpr const char* WaitingForOffset = "waiting for offset";
inline constexpr const char* Downloading = "downloading";
inline constexpr const char* Uploading = "uploading";
inline constexpr const char* Complete = "complete";
inline constexpr const char* Aborted = "aborted";
inline constexpr const char* Denied = "denied";
inline constexpr const char* LocalError = "local error";
} // namespace transfer_status
