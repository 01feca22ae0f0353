#include "zel/foundation/CZELLanguage.h"

#include "zel/foundation/ZELStatus.h"

#include <span>

namespace {

struct Text
{
    long id;
    const char* german;
    const char* english;
};

constexpr const char* kUnknown = "???";

// Text numbers of the larger tables run 1-9, 16-25, 32: hexadecimal digits read as decimal.
constexpr Text kSystemLog[] = {
    {1, "Die Logdatei konnte nicht erzeugt werden.", "The logfile could not be created."},
    {2, "Das aktuelle Verzeichnis kann nicht bestimmt werden, die Logdatei konnte daher nicht erzeugt werden.",
        "The current directory can not be determined, therefore the logfile can not be created."},
    {3, "Der System Log wurde gestartet.", "The system log has been started."},
    {4, "Der System Log konnte nicht gestartet werden.", "The system log could not be started."},
};

constexpr Text kThreadMonitor[] = {
    {1, "Der Thread Monitor wurde gestartet.", "The thread monitor has been started."},
    {2, "Der Thread Monitor konnte nicht gestartet werden.", "The thread monitor could not be started."},
    {3, "Ein Thread reagiert nicht mehr. Der Thread Monitor wird einen Speicherauszug der Anwendung erstellen.",
        "A thread has stopped to respond. The thread monitor is going to create a memory dump of the application."},
};

constexpr Text kMessageQueue[] = {
    {1, "Die Message Queue wurde gestartet.", "The message queue has been started."},
    {2, "Die Message Queue konnte nicht gestartet werden.", "The message queue could not be started."},
};

constexpr Text kPluginManager[] = {
    {1, "Der Plugin Manager wurde gestartet.", "The plugin manager has been started."},
    {2, "Der Plugin Manager konnte nicht gestartet werden.", "The plugin manager could not be started."},
    {3, "Der Plugin Manager wurde beendet.", "The plugin manager has been terminated."},
};

constexpr Text kSerialPort[] = {
    {1, "Die serielle Schnittstelle konnte nicht geöffnet werden.", "The serial port could not be opened."},
    {2, "Die Konfiguration der seriellen Schnittstelle konnte nicht gelesen werden.",
        "The configuration of the serial port could not be read."},
    {3, "Die Konfiguration der seriellen Schnittstelle konnte nicht geschrieben werden.",
        "The configuration of the serial port could not be written."},
    {4, "Die Timeout Konfiguration der seriellen Schnittstelle konnte nicht geschrieben werden.",
        "The timout configuration of the serial port could not be written."},
    {5, "Die serielle Schnittstelle wurde geöffnet.", "The serial port has been opened."},
    {6, "Die serielle Schnittstelle wurde geschlossen.", "The serial port has been closed."},
    {7, "Der Empfangsthread wurde initialisiert.", "The receiving thread has been initialized."},
    {8, "Ein notwendiger Speicher konnte nicht angefordert werden.", "A needed memory could not be allocated."},
    {9, "Der Empfangsthread wurde beendet.", "The receiving thread has been terminated."},
};

constexpr Text kMemoryDump[] = {
    {1, "Das Verzeichnis für die Dumpdatei konnte nicht erzeugt werden.",
        "The directory for the dumpfile can not be created."},
    {2, "Das aktuelle Verzeichnis kann nicht bestimmt werden, die Dumpdatei konnte daher nicht erzeugt werden.",
        "The current directory can not be determined, therefore the dumpfile can not be created."},
    {3, "Die Dumpdatei wurde in die folgende Datei geschrieben:", "The dumpfile has been saved to the following file:"},
    {4, "Die Dumpdatei konnte nicht in die folgende Datei geschrieben werden",
        "The dumpfile could not be saved to the following file"},
    {5, "Die Dumpdatei konnte nicht erstellt werden", "The dumpfile could not be created"},
    {6, "Die Dumpdatei konnte nicht erstellt werden weil DBGHELP.dll nicht kompatibel ist.",
        "The dumpfile could not be created because DBGHELP.DLL is not compatible."},
    {7, "Die Dumpdatei konnte nicht erstellt werden weil DBGHELP.dll nicht gefunden wurde.",
        "The dumpfile could not be created because DBGHELP.DLL could not be found."},
    {8, "Die Anwendung hat einen kritischen Fehler festgestellt und muss geschlossen werden.",
        "The application has detected a critical problem and needs to close."},
    {9, "Die Anwendung hat eine Verfälschung des Heaps festgestellt.", "The application has detected a heap corruption."},
    {16, "Die zyklische Heap Überprüfung wurde gestartet.", "The cyclic heap check has been started."},
    {17, "Die zyklische Heap Überprüfung konnte nicht gestartet werden.", "The cyclic heap check could not be started."},
    {18, "Die zyklische Heap Überprüfung wurde beendet.", "The cyclic heap check has been stopped."},
    {19, "Die Anwendung wird einen Absturz provozieren.", "The application is going to provoke a crash."},
    {20, "Die Anwendung wird ein Hängenbleiben provozieren.", "The application is going to provoke a hang."},
    {21, "Die Anwendung wird eine Verfälschung des Heaps provozieren.",
        "The application is going to provoke a heap corruption."},
};

constexpr const char* kEraseFailedDe = "Der Chip konnte nicht gelöscht werden.";
constexpr const char* kEraseFailedEn = "The chip could not be erased.";
constexpr const char* kErasedDe = "Der Chip wurde gelöscht.";
constexpr const char* kErasedEn = "The chip has been erased.";

constexpr Text kSTM32BootLoader[] = {
    // The English text 1 ends in a blank and the German one in a full stop: both are followed by a path.
    {1, "Die Updatedatei konnte nicht erzeugt werden.", "The update file could not be opened: "},
    {2, "Die Updatedatei wird vorbereitet ...", "Preparing update file ..."},
    {3, "Die Updatedatei wurde vorbereitet.", "The update file has been prepared."},
    {4, "Die Verbindung zum Bootloader konnte nicht hergestellt werden.", "Unable to connect to bootloader."},
    {5, "Die Version vom Bootloader konnte nicht ermittelt werden.", "Unable to get bootloader version."},
    {6, "Ermittelte Bootloader Version:", "Found bootloader version:"},
    {7, "Die Version vom Bootloader wird nicht unterstützt.", "The version of the bootloader is not supported."},
    {8, "Die Chip ID konnte nicht ermittelt werden.", "The chip ID could not be determined."},
    {9, "Ermittelte Chip ID:", "Detected chip ID:"},
    {16, "Der Chip wird gelöscht ...", "The chip is going to be erased ..."},
    {17, kEraseFailedDe, kEraseFailedEn}, // extended erase
    {18, kErasedDe, kErasedEn},
    {19, kEraseFailedDe, kEraseFailedEn}, // plain erase
    {20, kErasedDe, kErasedEn},
    {21, "Der Chip wird programmiert ...", "The chip is going to be programmed ..."},
    {22, "Der Chip konnte nicht programmiert werden.", "The chip could not be programmed."},
    {23, "Der Chip wurde programmiert.", "The chip has been programmed."},
    {24, "Das Go Kommando wird gesendet ...", "Sending Go command ..."},
    {25, "Das Go Kommando konnte nicht gesendet werden.", "The Go command could not be sent."},
    {32, "Das Go Kommando wurde gesendet.", "The Go command has been sent."},
    {33, "Der Chip wird überprüft ...", "Verifying the chip ..."},
    {34, "Der Chip wurde überprüft: %u Bytes verglichen.", "The chip has been verified: %u bytes compared."},
    {35, "Der Chip konnte nicht überprüft werden.", "The chip could not be verified."},
    {36, "Prüfung: das Byte bei 0x%08X liest 0x%02X, geschrieben 0x%02X",
        "Verify: the byte at 0x%08X reads 0x%02X, written 0x%02X"},
    {37, "Der Chip verweigert das Lesen (Ausleseschutz): das Abbild wurde nicht überprüft.",
        "The chip refuses to be read (read-out protection): the image has not been verified."},
};

const char* Lookup(std::span<const Text> table, long id, long language)
{
    if (language != ZEL_LANGUAGE_GERMAN && language != ZEL_LANGUAGE_ENGLISH)
        return kUnknown;
    for (const Text& text : table) {
        if (text.id == id)
            return language == ZEL_LANGUAGE_GERMAN ? text.german : text.english;
    }
    return kUnknown;
}

} // namespace

long CZELLanguage::SetLanguage(long language)
{
    m_language = (language == ZEL_LANGUAGE_GERMAN || language == ZEL_LANGUAGE_THIRD) ? language : ZEL_LANGUAGE_ENGLISH;
    return ZEL_STATUS_SUCCESS;
}

long CZELLanguage::GetLanguage()
{
    return m_language;
}

const char* CZELLanguage::GetString(long module, long text)
{
    switch (module) {
    case ZEL_MODULE_SYSTEM_LOG: return GetStringZELSystemLog(text);
    case ZEL_MODULE_THREAD_MONITOR: return GetStringZELThreadMonitor(text);
    case ZEL_MODULE_MESSAGE_QUEUE: return GetStringZELMessageQueue(text);
    case ZEL_MODULE_PLUGIN_MANAGER: return GetStringZELPluginManager(text);
    case ZEL_MODULE_SERIAL_PORT: return GetStringZELSerialPort(text);
    case ZEL_MODULE_MEMORY_DUMP: return GetStringZELMemoryDump(text);
    case ZEL_MODULE_SYSTEM_LOG_EX: return GetStringZELSystemLogEx(text);
    case ZEL_MODULE_STM32_BOOTLOADER: return GetStringZELSTM32BootLoader(text);
    default: return kUnknown;
    }
}

const char* CZELLanguage::GetStringZELSystemLog(long text) { return Lookup(kSystemLog, text, m_language); }
const char* CZELLanguage::GetStringZELThreadMonitor(long text) { return Lookup(kThreadMonitor, text, m_language); }
const char* CZELLanguage::GetStringZELMessageQueue(long text) { return Lookup(kMessageQueue, text, m_language); }
const char* CZELLanguage::GetStringZELPluginManager(long text) { return Lookup(kPluginManager, text, m_language); }
const char* CZELLanguage::GetStringZELSerialPort(long text) { return Lookup(kSerialPort, text, m_language); }
const char* CZELLanguage::GetStringZELMemoryDump(long text) { return Lookup(kMemoryDump, text, m_language); }
const char* CZELLanguage::GetStringZELSystemLogEx(long text) { return Lookup(kSystemLog, text, m_language); }
const char* CZELLanguage::GetStringZELSTM32BootLoader(long text) { return Lookup(kSTM32BootLoader, text, m_language); }
