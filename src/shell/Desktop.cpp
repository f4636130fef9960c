#include "shell/Desktop.h"

#include <QFileDialog>
#include <QMenu>

#include <QColorDialog>
#include <QDesktopServices>

namespace
{
Desktop::OpenUrlFunction& OpenUrlOverride()
{
    static Desktop::OpenUrlFunction s_function;
    return s_function;
}

Desktop::PickColorFunction& PickColorOverride()
{
    static Desktop::PickColorFunction s_function;
    return s_function;
}

Desktop::MessageBoxFunction& MessageBoxOverride()
{
    static Desktop::MessageBoxFunction s_function;
    return s_function;
}
Desktop::PopupMenuFunction& PopupMenuOverride()
{
    static Desktop::PopupMenuFunction s_function;
    return s_function;
}

Desktop::ChooseFilesFunction& ChooseFilesOverride()
{
    static Desktop::ChooseFilesFunction s_function;
    return s_function;
}
} // namespace

void Desktop::RunPopupMenu(QMenu& io_menu, const QPoint& i_screenPoint)
{
    if (PopupMenuOverride())
        PopupMenuOverride()(io_menu, i_screenPoint);
    else
        io_menu.exec(i_screenPoint);
}

QStringList Desktop::ChooseFiles(QWidget* ip_parent, const QString& i_title, bool i_folder)
{
    if (ChooseFilesOverride())
        return ChooseFilesOverride()(ip_parent, i_title, i_folder);
    QFileDialog l_dialog(ip_parent, i_title);
    l_dialog.setFileMode(i_folder ? QFileDialog::Directory : QFileDialog::ExistingFile);
    return l_dialog.exec() == QDialog::Accepted ? l_dialog.selectedFiles() : QStringList();
}

void Desktop::SetPopupMenu(PopupMenuFunction i_function)
{
    PopupMenuOverride() = std::move(i_function);
}

void Desktop::SetChooseFiles(ChooseFilesFunction i_function)
{
    ChooseFilesOverride() = std::move(i_function);
}

bool Desktop::OpenUrl(const QUrl& i_url)
{
    if (OpenUrlOverride())
        return OpenUrlOverride()(i_url);
    return QDesktopServices::openUrl(i_url);
}

bool Desktop::OpenWebPage(const QUrl& i_url)
{
    // The address may come from the web host or from other users: a local file or another
    // program's scheme is never handed to the desktop from here.
    const QString l_scheme = i_url.scheme().toLower();
    if (!i_url.isValid() || (l_scheme != QLatin1String("http") && l_scheme != QLatin1String("https")))
        return false;
    return OpenUrl(i_url);
}

QColor Desktop::PickColor(const QColor& i_initial, QWidget* ip_parent)
{
    if (PickColorOverride())
        return PickColorOverride()(i_initial, ip_parent);
    return QColorDialog::getColor(i_initial, ip_parent);
}

QMessageBox::StandardButton Desktop::ShowMessageBox(QMessageBox::Icon i_icon, QWidget* ip_parent,
                                                    const QString& i_title, const QString& i_text,
                                                    QMessageBox::StandardButtons i_buttons,
                                                    QMessageBox::StandardButton i_defaultButton)
{
    if (MessageBoxOverride())
        return MessageBoxOverride()(i_icon, ip_parent, i_title, i_text, i_buttons);
    QMessageBox l_box(i_icon, i_title, i_text, i_buttons, ip_parent);
    // Texts carry names and reasons from other users and the server: never read as mark-up.
    l_box.setTextFormat(Qt::PlainText);
    if (i_defaultButton != QMessageBox::NoButton)
        l_box.setDefaultButton(i_defaultButton);
    return static_cast<QMessageBox::StandardButton>(l_box.exec());
}

void Desktop::SetOpenUrl(OpenUrlFunction i_function)
{
    OpenUrlOverride() = std::move(i_function);
}

void Desktop::SetPickColor(PickColorFunction i_function)
{
    PickColorOverride() = std::move(i_function);
}

void Desktop::SetMessageBox(MessageBoxFunction i_function)
{
    MessageBoxOverride() = std::move(i_function);
}
