#pragma once

#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

#include "shell/Desktop.h"
#include "shell/MainWindowHooks.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/Type.h"
#include "support/support/ClientSchema.h"
#include "support/support/QtPrinters.h"

// What deleteLater() left, deleted as the event loop would.
inline void FlushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

template <class T = QWidget>
T* Child(const QObject* ip_parent, const char* i_name) { return ip_parent->findChild<T*>(i_name); }

inline bool ShowsIcon(const QIcon& i_icon, const char* i_path)
{
    return i_icon.pixmap(16).toImage() == QIcon(i_path).pixmap(16).toImage();
}

// The texts of a toolbar's visible actions, separators left out.
inline QStringList VisibleActionTexts(const QWidget* ip_bar)
{
    QStringList l_texts;
    for (QAction* lp_action : ip_bar->actions())
        if (lp_action->isVisible() && !lp_action->text().isEmpty())
            l_texts << lp_action->text();
    return l_texts;
}

// The texts a context toolbar shows while the focus is in the widget of that window.
inline QStringList ToolbarTexts(const QToolBar* ip_bar, QWidget* ip_window, QWidget* ip_widget)
{
    QApplication::setActiveWindow(ip_window);
    FocusWidgetAndParents(ip_widget);
    return VisibleActionTexts(ip_bar);
}

// Every desktop seam answered and recorded: addresses opened, boxes ("title: text", answered from
// m_answers, else No), menu entries (the first one is chosen), choosers ("title (folder)",
// answered with m_chosen) and colour picks (answered with m_color).
class FakeDesktop
{
public:
    FakeDesktop()
    {
        Desktop::SetOpenUrl([this](const QUrl& i_url) {
            m_opened << i_url.toString(QUrl::FullyEncoded);
            return true;
        });
        Desktop::SetMessageBox([this](QMessageBox::Icon, QWidget*, const QString& i_title,
                                      const QString& i_text, QMessageBox::StandardButtons) {
            m_boxes << i_title + ": " + i_text;
            return m_answers.isEmpty() ? QMessageBox::No : m_answers.takeFirst();
        });
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            for (QAction* lp_action : io_menu.actions())
                m_menus << lp_action->text();
            if (!io_menu.actions().isEmpty())
                io_menu.actions().first()->trigger();
        });
        Desktop::SetChooseFiles([this](QWidget*, const QString& i_title, bool i_folder) {
            m_boxes << i_title + (i_folder ? " (folder)" : " (file)");
            return m_chosen;
        });
        Desktop::SetPickColor([this](const QColor& i_initial, QWidget*) {
            m_picks << i_initial;
            return m_color;
        });
    }
    ~FakeDesktop()
    {
        Desktop::SetOpenUrl({});
        Desktop::SetMessageBox({});
        Desktop::SetPopupMenu({});
        Desktop::SetChooseFiles({});
        Desktop::SetPickColor({});
    }

    QStringList m_opened, m_boxes, m_menus, m_chosen;
    QList<QMessageBox::StandardButton> m_answers;
    QList<QColor> m_picks;
    QColor m_color;
};

// Stands in for the main window: records icon changes and tray balloons as lines ("icon <path>",
// "reset", "popup <text>") and reports the activity the test chooses.
class FakeMainWindow : public MainWindowHooks
{
public:
    FakeMainWindow() { InstallMainWindowHooks(this); }
    ~FakeMainWindow() override { InstallMainWindowHooks(nullptr); }

    void SetApplicationIcon(const QString& i_path) override { m_calls << "icon " + i_path; }
    void ResetApplicationIcon() override { m_calls << "reset"; }
    void PopupAlert(const QString& i_text) override { m_calls << "popup " + i_text; }
    bool IsMainWindowActive() const override { return m_active; }

    bool m_active = true;
    QStringList m_calls;
};
