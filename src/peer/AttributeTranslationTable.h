#pragma once

#include <map>
#include <string>

// Attribute code to attribute name, as it may follow a shared-file list; opaque here.
typedef std::map<int, std::string> AttributeTranslationTable;
