#pragma once

#include <QString>
#include <QtGlobal>

#include <map>
#include <set>
#include <string>

#include "store/DataLoadFailure.h"
#include "store/DataSaveFailure.h"
#include "store/DataLoadedEventHandler.h"
#include "store/ItemPtr.h"

class Type;

// Keeps the chosen parts of the store across runs in the store file. Owners register the types
// they want kept, either with all their items or only with the items connected to an item of
// given condition types; the shell loads the file once at start-up and saves it periodically.
class DataSaver
{
public:
    DataSaver();
    ~DataSaver();
    DataSaver(const DataSaver&) = delete;
    DataSaver& operator=(const DataSaver&) = delete;

    void AddSavedType(const std::string& i_typeName);
    void AddSavedByConnectionType(const std::string& i_typeName,
                                  const std::string& i_conditionTypeName);
    void AddDataLoadedEventHandler(DataLoadedEventHandler* ip_handler);

    // Writes the selection through a numbered temporary file that then replaces the store file
    // in one step. A failure leaves the old store file as it was; returns whether it replaced it.
    // The file holds the password: only its owner may read or write it (0600), whatever the umask.
    bool Save(const QString& i_path);
    // Removes the numbered temporary files that saves to this path left behind when they were
    // killed before their rename: the path followed by a dot and a number, nothing else.
    static void RemoveLeftovers(const QString& i_path);
    // Reads the file into the store and tells the listeners. A missing or unreadable file is a
    // first start. A damaged one empties the store and throws DataLoadFailure.
    void Load(const QString& i_path);
    // Whether Load would read the file without finding damage; reading it leaves the store as
    // it is. A missing or unreadable file loads as a first start.
    bool CanLoad(const QString& i_path) const;
    // Dumps every type of the store straight into the file, for diagnosis; a new file is the
    // owner's alone, as the store is.
    bool SaveAll(const QString& i_path);

    void EmitDataLoaded();
    void EmitNoData();

private:
    // Tests set the write limit to reach the failure paths of Save and SaveAll.
    friend class StoreTesting;

    void WriteFile(const QString& i_path, bool i_everything, bool i_replacing,
                   bool& o_created) const;

    std::set<Type*> m_savedTypes;
    std::map<Type*, std::set<Type*>> m_savedByConnectionTypes;
    std::set<DataLoadedEventHandler*> m_dataLoadedEventHandlers;
    // Every write past this many bytes fails, as on a full disk; negative for no limit.
    qint64 m_writeLimit = -1;
};

extern DataSaver* dataSaver;
