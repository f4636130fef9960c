#pragma once

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>

#include <functional>

#include "diagnostics/DataDialog.h"
#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/LogFixture.h"
#include "diagnostics/TypeNavigatorDialog.h"

// Pictures of what a widget shows, to compare against a list in one assertion.
template <class Widget, class Text>
QStringList TextsOf(const Widget* widget, int count, Text text)
{
    QStringList texts;
    for (int index = 0; index < count; ++index)
        texts << std::invoke(text, widget, index);
    return texts;
}
inline QStringList Texts(const QComboBox* box) { return TextsOf(box, box->count(), &QComboBox::itemText); }
inline QStringList Texts(const QTabWidget* tabs) { return TextsOf(tabs, tabs->count(), &QTabWidget::tabText); }
inline QStringList Texts(const QListWidget* list)
{
    return TextsOf(list, list->count(), [](const QListWidget* l, int i) { return l->item(i)->text(); });
}
// The rows below a row, their columns joined by '/', sorted: the store decides their order.
inline QStringList Rows(const QTreeWidgetItem* parent, int columns = 1)
{
    QStringList rows = TextsOf(parent, parent->childCount(), [columns](const QTreeWidgetItem* p, int i) {
        return TextsOf(p->child(i), columns, &QTreeWidgetItem::text).join('/');
    });
    rows.sort();
    return rows;
}
inline QStringList Rows(const QTreeWidget* tree, int columns = 1) { return Rows(tree->invisibleRootItem(), columns); }
// A browser's lines with their stamps cut off ("unstamped: " marks a line without one).
inline QStringList Lines(const QTextBrowser* browser)
{
    if (!browser || browser->document()->isEmpty())
        return {};
    QStringList lines = browser->toPlainText().split('\n');
    for (QString& line : lines)
        line = line.startsWith('[') ? line.mid(line.indexOf("] ") + 2) : "unstamped: " + line;
    return lines;
}
inline QTextBrowser* Browser(const QTabWidget* tabs, int index) { return qobject_cast<QTextBrowser*>(tabs->widget(index)); }
inline bool DiagnosticsTesting::DumpDataTo(DiagnosticsForm& io_page, const QString& i_file) { return io_page.DumpDataTo(i_file); }
// Closes a window that should delete itself on close; true once it is gone.
inline bool Close(QWidget* window)
{
    const QPointer<QWidget> alive = window;
    window->show();
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return alive.isNull();
}
