#pragma once

#include <QMenu>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>

#include "shell/ColorSettings.h"
#include "shell/ViewPages.h"
#include "transfers/TransferFixture.h"
#include "views/transfers/TransferBarDelegate.h"
#include "views/transfers/TransfersForm.h"

// The resource icon a cell shows, by name: "" for none, "?" for any other.
inline QString IconName(const QIcon& i_icon)
{
    if (i_icon.isNull())
        return QString();
    for (const char* l_name : {"online", "offline", "alert", "download", "transfer"})
        if (ShowsIcon(i_icon, QString(":/icons/%1_icon").arg(l_name).toUtf8().constData()))
            return l_name;
    return "?";
}

// The main window's share of the transfers view beside the real transfer queues: the toolbars,
// the colours as start-up writes them, a "Rooms" page shown first and the "Transfers" page,
// initialised before the load and told of it. The saved transfers are loaded when the test
// says so (Load), as the queues' own load handler would.
class TransfersFixture : public TransferFixture, protected ViewPages
{
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        BuildViewPages();
        ColorSettings::WriteDefaults();
        mp_pages->addTab(mp_form = new TransfersForm, "Transfers");
        mp_form->Init();
        StoredSettings();
        mp_form->DataLoaded();
        mp_pages->resize(1000, 500);
        mp_pages->show();
        mp_downloads = mp_form->DownloadsList();
        mp_uploads = mp_form->UploadsList();
        // Menus are recorded, then what the test set runs inside the menu's own loop, then the
        // entry the test chose is triggered.
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            m_menu = MenuLines(&io_menu);
            if (m_whileMenuRuns)
                m_whileMenuRuns();
            if (!m_choice.isEmpty())
            {
                QAction* lp_action = FindAction(&io_menu, m_choice);
                ASSERT_TRUE(lp_action) << m_choice.toStdString() << " in " << m_menu.join(", ").toStdString();
                lp_action->trigger();
            }
        });
    }

    void TearDown() override
    {
        mp_pages.reset();
        TransferFixture::TearDown();
    }

    // Settings as the store file held them, read by the view after the load.
    virtual void StoredSettings() {}

    // The transfer queues' load handler: unfinished downloads queued again, the views told.
    void Load() { mp_manager->DataLoaded(); }

    ItemPtr Add(const QString& i_user, const std::string& i_folder, const std::string& i_file,
                qint64 i_size = 2097152)
    {
        return mp_manager->AddDownload(i_user, i_file, i_folder, i_size, 0);
    }

    // A download with its transfer under way as the queues set it up on a file connection.
    void Run(ItemPtr i_entry, qint64 i_position, qint32 i_speed, bool i_upload = false)
    {
        mp_manager->AttachObject(i_entry, i_upload ? "read_position" : "write_position", new qint64(i_position));
        SetStatus(i_entry, i_upload, i_upload ? Uploading : Downloading);
        mp_manager->AttachObject(i_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        mp_manager->AttachObject(i_entry, "bytes_per_second", new qint32(i_speed));
    }
    // A block moved, reported as the queues report it.
    void Report(ItemPtr i_entry, qint64 i_position, qint32 i_speed, bool i_upload = false)
    {
        *mp_manager->PeekObject<qint64>(i_entry[i_upload ? "read_position" : "write_position"]) = i_position;
        *mp_manager->PeekObject<qint32>(i_entry["bytes_per_second"]) = i_speed;
        if (i_upload)
            emit mp_manager->UploadProgressed(i_entry);
        else
            emit mp_manager->DownloadProgressed(i_entry);
    }

    // An upload of a file shared before (Share) to the user, as the queues make it.
    ItemPtr Upload(const QString& i_user, const QString& i_name)
    {
        mp_manager->AddUpload(i_user, Remote(i_name));
        return Entry(i_user, i_name);
    }

    // Every row, depth first: indented by level, the non-empty cells as "column=text", a cell's
    // icon after it in brackets, "+" before an expanded group row.
    static QStringList Rows(QTreeWidget* ip_list, int i_from = 0)
    {
        QStringList l_rows;
        std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
            QStringList l_cells;
            for (int l_column = i_from; l_column < ip_list->columnCount(); ++l_column)
            {
                QString l_cell = ip_row->text(l_column);
                const QString l_icon = IconName(ip_row->icon(l_column));
                if (!l_icon.isEmpty())
                    l_cell += "(" + l_icon + ")";
                if (!l_cell.isEmpty())
                    l_cells << QString("%1=%2").arg(l_column).arg(l_cell);
            }
            l_rows << QString(i_depth * 2, ' ') + (ip_row->isExpanded() ? "+" : "") + l_cells.join(' ');
            for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
                l_add(ip_row->child(l_child), i_depth + 1);
        };
        for (int l_row = 0; l_row < ip_list->topLevelItemCount(); ++l_row)
            l_add(ip_list->topLevelItem(l_row), 0);
        return l_rows;
    }

    // The row of an entry, found as the view finds it.
    static QTreeWidgetItem* RowOf(ItemPtr i_entry, bool i_upload = false)
    {
        const ItemPtr l_node = i_entry[i_upload ? "upload_list_node" : "download_list_node"];
        return l_node ? l_node.AsPointer<QTreeWidgetItem>() : nullptr;
    }
    // The colour setting whose colour the row's cell shows, by the setting's last word.
    static QString ColorOf(QTreeWidgetItem* ip_row, int i_column = 0)
    {
        const QColor l_color = ip_row->foreground(i_column).color();
        for (const char* l_name : {"complete", "in_progress", "queued", "failed", "other"})
            if (QColor(GetSetting(QString("color_transfer_") + l_name)) == l_color)
                return l_name;
        return ip_row->foreground(i_column).style() == Qt::NoBrush ? "none" : l_color.name();
    }
    // The bar drawn in a row's progress cell, running or stopped.
    static QString BarText(QTreeWidgetItem* ip_row)
    {
        const QVariant l_text = ip_row->data(4, TransferBarDelegate::TextRole);
        return l_text.isValid()
                   ? QString("%1 [%2]").arg(l_text.toString()).arg(ip_row->data(4, TransferBarDelegate::ValueRole).toInt())
                   : "no bar";
    }
    QString Title() const { return mp_pages->tabText(1); }

    // Each line of a menu: "" for a separator, else the text, "@" and the icon's name, and a
    // submenu's lines in braces.
    static QStringList MenuLines(const QMenu* ip_menu)
    {
        QStringList l_lines;
        for (QAction* lp_action : ip_menu->actions())
        {
            const QString l_icon = IconName(lp_action->icon());
            const QString l_line = lp_action->text() + (l_icon.isEmpty() ? "" : "@" + l_icon);
            l_lines << (lp_action->menu() ? l_line + "{" + MenuLines(lp_action->menu()).join('|') + "}" : l_line);
        }
        return l_lines;
    }
    // The action at a path of texts such as "Notify me when.../File download completes".
    static QAction* FindAction(const QMenu* ip_menu, const QString& i_path)
    {
        for (QAction* lp_action : ip_menu ? ip_menu->actions() : QList<QAction*>())
            if (lp_action->text() == i_path.section('/', 0, 0))
                return i_path.contains('/') ? FindAction(lp_action->menu(), i_path.section('/', 1)) : lp_action;
        return nullptr;
    }
    // The downloads menu over those rows, the entry at the path chosen when one is given.
    QStringList DownloadsMenu(const std::vector<QTreeWidgetItem*>& i_rows, const QString& i_choice = QString())
    {
        mp_downloads->clearSelection();
        for (QTreeWidgetItem* lp_row : i_rows)
            lp_row->setSelected(true);
        m_menu = QStringList{"(no menu)"};
        m_choice = i_choice;
        mp_form->OnDownloadsContextMenuRequested(QPoint(1, 1));
        m_choice.clear();
        return m_menu;
    }
    // The lines of the menu before the user's own part.
    static QStringList DownloadPart(const QStringList& i_menu)
    {
        const int l_user = i_menu.indexOf(QRegularExpression("Message user.*"));
        return l_user < 0 ? i_menu : QStringList(i_menu.mid(0, l_user - 1));
    }
    void Trigger(QWidget* ip_widget, const char* i_action) { emit mp_actions->ActionTriggered(ip_widget, i_action); }

    // The notices on the event bar and the tray balloons, in order.
    QStringList Notices() const
    {
        QStringList l_texts = VisibleActionTexts(mp_events.get());
        for (const QString& l_call : m_window.m_calls)
            if (l_call.startsWith("popup "))
                l_texts << l_call.mid(6);
        return l_texts;
    }
    // Completions reach their alerts through the event loop.
    static void Settle() { QCoreApplication::processEvents(); }
    static std::size_t Nodes(const char* i_type) { return d.GetType(i_type)->ItemCount(); }

    FakeDesktop m_desktop;
    TransfersForm* mp_form = nullptr;
    QStringList m_menu;
    QString m_choice;
    std::function<void()> m_whileMenuRuns;
    QTreeWidget* mp_downloads = nullptr;
    QTreeWidget* mp_uploads = nullptr;
};
