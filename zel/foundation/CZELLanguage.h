#pragma once

#include <atomic>

// Language ids.
inline constexpr long ZEL_LANGUAGE_GERMAN = 0;
inline constexpr long ZEL_LANGUAGE_ENGLISH = 1;
inline constexpr long ZEL_LANGUAGE_THIRD = 2; // no texts are held for it

// Module numbers of the text tables.
inline constexpr long ZEL_MODULE_SYSTEM_LOG = 1;
inline constexpr long ZEL_MODULE_THREAD_MONITOR = 4;
inline constexpr long ZEL_MODULE_MESSAGE_QUEUE = 5;
inline constexpr long ZEL_MODULE_PLUGIN_MANAGER = 7;
inline constexpr long ZEL_MODULE_SERIAL_PORT = 9;
inline constexpr long ZEL_MODULE_MEMORY_DUMP = 13;
inline constexpr long ZEL_MODULE_SYSTEM_LOG_EX = 14;
inline constexpr long ZEL_MODULE_STM32_BOOTLOADER = 15;

// Texts the library's modules log, in German and English. Each log call asks for its text at
// that moment, so a change of language applies to the next record.
class CZELLanguage
{
public:
    CZELLanguage() = default;
    // Not virtual: the object is never destroyed through a base pointer.
    ~CZELLanguage() = default;

    // 0 German, 2 the third language, anything else English.
    virtual long SetLanguage(long language);
    virtual long GetLanguage();
    // "???" for a module without a table, an unknown text or a language without texts.
    virtual const char* GetString(long module, long text);
    virtual const char* GetStringZELSystemLog(long text);
    virtual const char* GetStringZELThreadMonitor(long text);
    virtual const char* GetStringZELMessageQueue(long text);
    virtual const char* GetStringZELPluginManager(long text);
    virtual const char* GetStringZELSerialPort(long text);
    virtual const char* GetStringZELMemoryDump(long text);
    virtual const char* GetStringZELSystemLogEx(long text);
    virtual const char* GetStringZELSTM32BootLoader(long text);

private:
    std::atomic<long> m_language{ZEL_LANGUAGE_ENGLISH};
};

CZELLanguage& GetZELLanguage();
