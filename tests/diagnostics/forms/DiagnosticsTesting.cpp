#include "diagnostics/DiagnosticsTesting.h"

#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/TypeNavigatorDialog.h"

bool DiagnosticsTesting::DumpDataTo(DiagnosticsForm& io_page, const QString& i_fileName)
{
    return io_page.DumpDataTo(i_fileName);
}

const std::list<std::list<std::string>>& DiagnosticsTesting::FoundPaths(
    const TypeNavigatorDialog& i_dialog)
{
    return i_dialog.m_paths;
}
