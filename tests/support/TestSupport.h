#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>

// The store throws its schema errors as pointers to new objects; these catch, check and free
// them, so a test can assert on the thrown class without leaking it (anything else thrown fails
// the test as an unexpected exception).
template <class Exception>
::testing::AssertionResult ThrowsPointer(const std::function<void()>& i_action)
{
    try
    {
        i_action();
    }
    catch (Exception* ip_exception)
    {
        delete ip_exception;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "threw nothing";
}

#define EXPECT_THROWS_PTR(statement, Exception) \
    EXPECT_TRUE(ThrowsPointer<Exception>([&] { statement; }))

// A fresh folder under the system's temporary folder, removed with the object.
class TemporaryFolder
{
public:
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& i_name) const { return m_path + "/" + i_name; }

private:
    QTemporaryDir m_folder;
    const std::string m_path = m_folder.path().toStdString();
};
