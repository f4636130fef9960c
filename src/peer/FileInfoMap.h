#pragma once

#include <map>
#include <set>
#include <string>

#include "peer/FileInfo.h"

// A shared-file list: folder path (bytes, backslash separators) to the records of its files.
typedef std::map<std::string, std::set<FileInfo>> FileInfoMap;
