#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QMenu;
class QPoint;
class QWidget;

// Where the shell hands over to the desktop or waits on a modal prompt: opening an address in
// the browser, the colour picker and message boxes. Each goes through a replaceable function, so
// tests record the call and answer it instead of opening a browser or spinning a modal loop.
// Setting an empty function brings back the toolkit's own behaviour.
class Desktop
{
public:
    using OpenUrlFunction = std::function<bool(const QUrl& i_url)>;
    // An invalid colour means the user cancelled.
    using PickColorFunction = std::function<QColor(const QColor& i_initial, QWidget* ip_parent)>;
    using MessageBoxFunction = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon i_icon, QWidget* ip_parent, const QString& i_title,
        const QString& i_text, QMessageBox::StandardButtons i_buttons)>;

    static bool OpenUrl(const QUrl& i_url);
    // As OpenUrl, for web pages only: any address but http or https is refused (false).
    static bool OpenWebPage(const QUrl& i_url);
    static QColor PickColor(const QColor& i_initial, QWidget* ip_parent);
    // The default button is the one Return presses in the toolkit's box; none lets it choose.
    static QMessageBox::StandardButton ShowMessageBox(
        QMessageBox::Icon i_icon, QWidget* ip_parent, const QString& i_title,
        const QString& i_text, QMessageBox::StandardButtons i_buttons = QMessageBox::Ok,
        QMessageBox::StandardButton i_defaultButton = QMessageBox::NoButton);

    // Runs a popup menu at a screen point; the chosen action triggers itself.
    using PopupMenuFunction = std::function<void(QMenu& io_menu, const QPoint& i_screenPoint)>;
    // A modal chooser of one existing file or one folder; the chosen paths, none when cancelled.
    using ChooseFilesFunction =
        std::function<QStringList(QWidget* ip_parent, const QString& i_title, bool i_folder)>;
    static void RunPopupMenu(QMenu& io_menu, const QPoint& i_screenPoint);
    static QStringList ChooseFiles(QWidget* ip_parent, const QString& i_title, bool i_folder);

    static void SetOpenUrl(OpenUrlFunction i_function);
    static void SetPopupMenu(PopupMenuFunction i_function);
    static void SetChooseFiles(ChooseFilesFunction i_function);
    static void SetPickColor(PickColorFunction i_function);
    static void SetMessageBox(MessageBoxFunction i_function);
};
