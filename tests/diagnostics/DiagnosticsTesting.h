#pragma once

#include <QString>

#include "diagnostics/LogService.h"

class DiagnosticsForm;

class DiagnosticsTesting
{
public:
    static void SetLogFolder(LogService& io_service, const QString& i_folder)
    {
        io_service.m_folder = i_folder;
    }
    // Defined with the page tests' helpers, which link the widgets.
    inline static bool DumpDataTo(DiagnosticsForm& io_page, const QString& i_fileName);
};
