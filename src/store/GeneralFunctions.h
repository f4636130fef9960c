#pragma once

#include <QString>

#include <string>

// Stateless helpers shared by the views, shares, transfer queues and peer messenger. Remote
// paths keep backslash separators and local paths use the slash; the path functions accept
// both unless noted.

// The last component, after one trailing separator is dropped.
std::string GetFileName(std::string i_path);
// Everything before the last separator, after one trailing separator is dropped; a path
// without a separator is its own folder.
std::string GetFolder(std::string i_path);
// GetFolder of the path with every trailing backslash dropped.
std::string GetParentFolder(std::string i_path);
// The lower-cased text after the last "." of the whole path; separators are not looked at.
std::string GetFileExtension(std::string i_path);
// Every occurrence of from replaced by to; inserted text is never searched again.
std::string StringReplace(std::string i_text, std::string i_from, std::string i_to);

// "&", "<" and ">" as entities, for text shown as rich text; quotes stay.
QString EscapeHTML(QString i_text);
// http and https addresses as anchors; the text must already have gone through EscapeHTML.
QString ConvertLinks(QString i_text);
// The first index at or after from holding any of chars; -1 when there is none.
int findFirstOf(QString i_text, QString i_chars, int i_from);
// The components, last first, joined by "/".
QString ReversePathname(QString i_path);
// The key under which local file paths are compared.
QString GetAbsoluteFileName(QString i_path);
// "1,234,567"; empty for zero and below.
QString CommafyNumber(long long i_n);
// "1d1h1m1s", "1h2m5s", "0m59s".
QString FormatSeconds(long i_seconds);

// Bit n of the word, the least significant being bit 1; false outside 1..32.
bool GetBit(unsigned int i_word, int i_n);
