#include "app/core/UpdateTexts.h"

#include "zel/foundation/CZELLanguage.h"

namespace {

struct Text
{
    unsigned long id;
    const char* english;
    const char* german;
};

constexpr Text g_texts[] = {
    { APP_TEXT_DEVICE_UNKNOWN, "The update could not be started because the current device is unknown.",
        "Das Update konnte nicht gestartet werden weil das Gerät unbekannt ist." },
    { APP_TEXT_UPDATES_POSSIBLE, "The following updates can be performed:\r\n",
        "Die folgenden Updates können durchgeführt werden:\r\n" },
    { APP_TEXT_NEWEST_INSTALLED, "The newest firmware for the current device is installed already:",
        "Die neueste Firmware für das aktuelle Gerät ist bereits installiert:" },
    { APP_TEXT_INSTALL_NOW, "Do you want to install these updates now?",
        "Möchten Sie diese Updates jetzt installieren?" },
    { APP_TEXT_FILE_NOT_READ,
        "The following file could not be read:", "Die folgende Datei konnte nicht gelesen werden:" },
    { APP_TEXT_DETECTED_ERROR, "Detected error:", "Erkannter Fehler:" },
    { APP_TEXT_HEADER_NOT_SUPPORTED, "The file header is not supported.", "Der Dateiheader wird nicht unterstützt." },
    { APP_TEXT_FILE_FOUND, "The following file has been found:", "Die folgende Datei wurde gefunden:" },
};

} // namespace

const char* GetUpdateText(unsigned long id)
{
    const long language = GetZELLanguage().GetLanguage();
    if (language != ZEL_LANGUAGE_GERMAN && language != ZEL_LANGUAGE_ENGLISH)
        return "???";
    for (const Text& text : g_texts)
        if (text.id == id)
            return language == ZEL_LANGUAGE_GERMAN ? text.german : text.english;
    return "???";
}
