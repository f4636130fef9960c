#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QFont;
class QLineEdit;
class QTabWidget;
class QTreeWidget;
class QWidget;

// A text for a tab, a menu entry or a button that shows its '&' as it is: other users' names,
// folders and searches are no shortcut marks.
QString LiteralAmpersands(QString i_text);

// Walks up from a widget and calls the visitor with every enclosing tab widget that holds the
// widget (or one of its ancestors) as a page, innermost first, with that page's index. A tab
// widget holding the widget elsewhere (its tab bar or a corner widget) is passed over. The walk
// stops early when the visitor returns false.
void ForEachHoldingTabWidget(QWidget* ip_widget,
                             const std::function<bool(QTabWidget*, int)>& i_visitor);

// The nearest tab widget that holds the widget as (part of) a page, with the page's index in
// io_index; null when there is none, and then io_index is left as it was.
QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& io_index);

// Asks for the widget's window to become the active one. A Wayland compositor alone decides
// that and refuses every such request with a warning, so there it is not asked.
void ActivateWindow(QWidget* ip_widget);

// Brings a widget to the front: activates its window, makes the page holding it current in
// every enclosing tab widget, innermost first, and gives it the keyboard focus; where a page
// brought forward handed the focus to the widget it prefers, that one keeps it.
void FocusWidget(QWidget* ip_widget);
inline void FocusWidgetAndParents(QWidget* ip_widget)
{
    FocusWidget(ip_widget);
}

// Marks the widget as the one of its tab page that takes the focus when the page is selected;
// among several, the highest priority wins. A visible widget takes the focus at once.
void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_priority);

// Gives the focus to the visible widget of the subtree whose priority is the highest above
// i_best (the first met in child order among equals) and returns that priority, or i_best when
// no widget exceeds it. Hidden widgets and everything below them are never chosen.
int FindWidgetFocusProperty(QWidget* ip_widget, int i_best);

// The largest figures the lists show in ordinary use, from which their columns take their widths.
// Many users share hundreds of thousands of files, and a fast transfer between two machines of
// one network goes at hundreds of megabytes a second.
namespace LargestFigure
{
constexpr qint64 Size = 99999999999LL;
// Shows as 999999.9 KiB/s.
constexpr qint64 BytesPerSecond = 1023999898;
// The files or folders a user shares.
constexpr int Count = 9999999;
// The uploads waiting in a user's queue, a download's place in it, the users of a room.
constexpr int Queue = 999999;
// A large file at a low limit takes months.
constexpr qint64 SecondsLeft = 9999 * 3600 + 59 * 60 + 59;
} // namespace LargestFigure

// The pixels a cell of the view keeps beside its text: the style's margins on both sides, and two
// more so that a figure does not run into the next column.
int CellPadding(const QWidget* ip_view);

// The width of a column of figures: at least i_least, and room for the widest of the figures in
// that font with i_padding pixels beside it. Columns were designed for a smaller font than many
// desktops use, so a width in pixels alone would cut their figures.
int FittingColumnWidth(int i_least, const QFont& i_font, const QStringList& i_figures, int i_padding);

// Gives the list's column that width, for figures drawn in the list's own font. Called before the
// list is registered with the size manager, so that the widths a user chose still win.
void FitColumn(QTreeWidget* ip_list, int i_column, int i_least, const QStringList& i_figures);

// The width a list takes to show every column whole within its frame, beside a vertical scroll
// bar for when its rows outgrow it. A pane that holds the list starts at least this wide.
int WidthOfAllColumns(const QTreeWidget* ip_list);

// Lets a read-only box of figures grow past its designed largest width when the widest of the
// figures would not show whole in the box's font.
void FitFigureBox(QLineEdit* ip_box, const QStringList& i_figures);
