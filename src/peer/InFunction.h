#pragma once

#include <QString>

#include <set>

// Names of the functions that currently hold an InFunction marker.
extern std::set<QString> g_inFunctions;

// Marks, for as long as it lives or until disposed, that the named function is running, so that
// code it calls can tell (IsInFunction). A name held twice is recorded once, and the first
// disposal clears it for both.
class InFunction
{
public:
    explicit InFunction(char const* ip_name);
    ~InFunction();
    InFunction(const InFunction&) = delete;
    InFunction& operator=(const InFunction&) = delete;

    // Clears the mark early, before the function ends; later calls do nothing.
    void Dispose();

private:
    QString m_name;
    bool m_disposed = false;
};

bool IsInFunction(char const* ip_name);
