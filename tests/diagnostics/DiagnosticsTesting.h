#pragma once

#include <QString>

#include <list>
#include <string>

#include "diagnostics/LogService.h"

class DiagnosticsForm;
class TypeNavigatorDialog;

// What the diagnostics classes keep to themselves and their tests reach: the folder of the log
// files, the dump without its file dialog, and the navigator's found paths.
class DiagnosticsTesting
{
public:
    static void SetLogFolder(LogService& io_service, const QString& i_folder)
    {
        io_service.m_folder = i_folder;
    }
    // These two are defined with the page tests, which link the widgets.
    static bool DumpDataTo(DiagnosticsForm& io_page, const QString& i_fileName);
    static const std::list<std::list<std::string>>& FoundPaths(
        const TypeNavigatorDialog& i_dialog);
};
