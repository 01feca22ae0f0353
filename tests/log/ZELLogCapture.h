#pragma once

// Test helpers around the system log: a control sink that records every line and lets a test
// wait for the one it expects, a CSV reader, and a scope that runs the process-wide log.

#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/log/CZELSystemLogEx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ZELTest {

// Scales the time table down before any module starts (register it from a test file).
class ScaledTimesEnvironment : public ::testing::Environment
{
public:
    explicit ScaledTimesEnvironment(int divisor)
        : m_divisor(divisor)
    {
    }
    void SetUp() override { ZELScaleTimesForTests(m_divisor); }

private:
    int m_divisor;
};

class CapturingSink : public IZELLogLineSink
{
public:
    void AppendLine(const std::string& line) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        }
        m_changed.notify_all();
    }

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    std::size_t CountContaining(const std::string& text) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count_if(m_lines.begin(), m_lines.end(),
            [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    // Waits until `count` lines holding `text` have arrived; false after the time-out.
    bool WaitForLine(const std::string& text, std::size_t count = 1,
        std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        std::size_t checked = 0;
        std::size_t found = 0;
        // Each wake-up looks only at the lines that are new since the last one.
        return m_changed.wait_for(lock, timeout, [&] {
            for (; checked < m_lines.size(); ++checked) {
                if (m_lines[checked].find(text) != std::string::npos)
                    ++found;
            }
            return found >= count;
        });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

// Runs the process-wide log in a fresh current directory with every line going to `sink`.
class ScopedSystemLog
{
public:
    ScopedSystemLog()
        : m_cwd(m_directory.Path())
    {
        GetZELSystemLogEx().SetEnableOutput(true);
        EXPECT_EQ(GetZELSystemLogEx().Initialize(&sink, "Test", "V 01.00.00"), 0);
    }
    ~ScopedSystemLog()
    {
        GetZELSystemLogEx().Terminate();
        GetZELSystemLogEx().SetEnableOutput(false);
    }

    CapturingSink sink;

private:
    TemporaryDirectory m_directory;
    ScopedCurrentDirectory m_cwd;
};

// Reads semicolon-separated text: fields in double quotes may hold semicolons and line breaks, a
// doubled quote inside them stands for one; records end with CR LF.
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(field);
            field.clear();
            records.push_back(fields);
            fields.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "unterminated quoted field";
    EXPECT_TRUE(field.empty() && fields.empty()) << "last record without CR LF";
    return records;
}

} // namespace ZELTest
