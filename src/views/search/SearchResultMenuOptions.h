#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <string>

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

// The result tree's own entries of a row's context menu: download the selected files, download
// whole folders, browse the user's files at the row's folder. The caller builds the menu on the
// spot, adds this (no parent) before the user's entries and runs the menu; the slots act on the
// tree's selection as it stands when an entry is chosen.
class SearchResultMenuOptions : public QObject
{
    Q_OBJECT

public:
    SearchResultMenuOptions(QMenu* ip_menu, QTreeWidgetItem* ip_row, QObject* ip_parent = nullptr);

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QTreeWidgetItem* mp_row;
    // Every download from this menu records the search of the clicked row.
    QString m_searchText;
    QString m_user;
    // The clicked row's remote folder as received, backslashes kept.
    std::string m_folder;
    // The slots run inside the menu's loop, where replies keep coming; a closed tab takes its
    // tree and rows along.
    QPointer<QTreeWidget> mp_tree;
};
