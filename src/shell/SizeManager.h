#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QSplitter;
class QTreeWidget;
class ResizableWindow;

// Keeps window geometry, splitter panes and list column widths from run to run, as saved items
// of the store. A widget is registered under a record name: the stored layout of that name is
// applied to it, or, the first time, its own layout is stored. From then on every change the
// user makes is recorded and copied to the other widgets of the same name.
class SizeManager : public QObject
{
    Q_OBJECT

public:
    explicit SizeManager(QObject* ip_parent = nullptr);
    ~SizeManager() override;

    void RegisterResizableWindow(const QString& i_name, ResizableWindow* ip_window);
    // With no record yet, the defaults (or else the splitter's own sizes) become the record;
    // the splitter itself is not resized.
    void RegisterSplitter(const QString& i_name, QSplitter* ip_splitter,
                          const QList<int>& i_defaultSizes);
    void RegisterTreeWidget(const QString& i_name, QTreeWidget* ip_tree);
    // Drops the tree record, so that the next registration measures the columns afresh.
    void ForgetTreeWidget(const QString& i_name);

public slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize);
    void OnTreeDestroyed(QObject* ip_tree);

private:
    void RecordWindowPair(const char* i_first, int i_firstValue, const char* i_second,
                          int i_secondValue);

    // Set while a change is copied to the other widgets of a record, whose own change signals
    // must not start a second pass.
    bool m_copying = false;
};

extern SizeManager* sizeManager;
