#pragma once

#include "store/Data.h"

// The types a scan, a search answer or a share list reads for every file, looked up once per
// scan, answer or list rather than once per file.
struct SharedFileTypes
{
    Type* token = d.GetType("search_token");
    Type* file = d.GetType("shared_file");
    Type* name = d.GetType("shared_file_name");
    Type* folder = d.GetType("shared_file_folder");
    Type* sharedFolder = d.GetType("shared_folder");
    Type* size = d.GetType("shared_file_size");
    Type* bitrate = d.GetType("bitrate");
    Type* bitrateMode = d.GetType("bitrate_mode");
};
