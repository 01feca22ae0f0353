#include "app/core/UpdateTexts.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELStatus.h"

namespace {

struct Text
{
    unsigned long id;
    const char* english;
    const char* german;
};

constexpr Text g_texts[] = {
    { APP_TEXT_THREAD_STARTED, "The update thread has been started.", "Der Update-Thread wurde gestartet." },
    { APP_TEXT_THREAD_FINISHED, "The update thread has finished.", "Der Update-Thread wurde beendet." },
    { APP_TEXT_BUTTON_CLEAR_STATUS, "Clear Status", "Status löschen" },
    { APP_TEXT_BUTTON_AUTO_SCROLL, "Auto-scroll\r\nStatus Window", "Statusfenster\r\nautom. scrollen" },
    { APP_TEXT_BUTTON_OPEN, "Open", "Öffnen" },
    { APP_TEXT_BUTTON_CLOSE, "Close", "Schließen" },
    { APP_TEXT_BUTTON_START_UPDATE, "Start\r\nUpdate", "Update\r\nstarten" },
    { APP_TEXT_BUTTON_CANCEL_UPDATE, "Cancel Update", "Update abbr." },
    { APP_TEXT_BUTTON_YES, "Yes", "Ja" },
    { APP_TEXT_BUTTON_NO, "No", "Nein" },
    { APP_TEXT_BUTTON_OK, "OK", "OK" },
    { APP_TEXT_BUTTON_CANCEL, "Cancel", "Abbrechen" },
    { APP_TEXT_LABEL_SETTINGS, "Program Settings", "Programmeinstellungen" },
    { APP_TEXT_LABEL_LANGUAGE, "Language:", "Sprache:" },
    { APP_TEXT_LABEL_BAUD_RATE, "Baud Rate:", "Baud Rate:" },
    { APP_TEXT_LABEL_COM_PORT, "COM Port:", "COM Port:" },
    { APP_TEXT_LABEL_STATUS, "Status:", "Status:" },
    { APP_TEXT_LABEL_PROGRESS, "Progress:", "Fortschritt:" },
    { APP_TEXT_STATE_READY, "Ready.", "Bereit." },
    { APP_TEXT_STATE_CCPU, "CCPU Update ...", "CCPU Update ..." },
    { APP_TEXT_STATE_KCPU, "KCPU Update ...", "KCPU Update ..." },
    { APP_TEXT_STATE_LCPU, "LCPU Update ...", "LCPU Update ..." },
    { APP_TEXT_STATE_MCPU, "MCPU Update ...", "MCPU Update ..." },
    { APP_TEXT_STATE_ECPU, "ECPU Update ...", "ECPU Update ..." },
    { APP_TEXT_STATE_RCPU, "RCPU Update ...", "RCPU Update ..." },
    { APP_TEXT_STATE_VELTRIX, "Veltrix Update ...", "Veltrix Update ..." },
    { APP_TEXT_STATE_FAILED, "Update failed", "Update fehlgeschlagen" },
    { APP_TEXT_STATE_SUCCEEDED, "Update succeeded", "Update erfolgreich" },
    { APP_TEXT_STATE_CAN_DRIVER, "MCPU CAN Driver Update ...", "MCPU CAN Treiber Update ..." },
    { APP_TEXT_STATE_PREPARING, "Preparing ...", "Vorbereiten ..." },
    { APP_TEXT_STATE_VERIFYING, "%s (verify)", "%s (Prüfung)" },
    { APP_TEXT_PORT_NOT_ACCESSIBLE, "The update could not be started because the COM port could not be accessed.",
        "Das Update konnte nicht gestartet werden weil der COM Port nicht verfügbar ist." },
    { APP_TEXT_DEVICE_UNKNOWN, "The update could not be started because the current device is unknown.",
        "Das Update konnte nicht gestartet werden weil das Gerät unbekannt ist." },
    { APP_TEXT_UPDATES_POSSIBLE, "The following updates can be performed:\r\n",
        "Die folgenden Updates können durchgeführt werden:\r\n" },
    { APP_TEXT_NEWEST_INSTALLED, "The newest firmware for the current device is installed already:",
        "Die neueste Firmware für das aktuelle Gerät ist bereits installiert:" },
    { APP_TEXT_INSTALL_NOW, "Do you want to install these updates now?",
        "Möchten Sie diese Updates jetzt installieren?" },
    { APP_TEXT_UPDATE_FAILED_BECAUSE, "The update has failed because of the following errors:\r\n",
        "Das Update ist aufgrund der folgenden Fehler fehlgeschlagen:\r\n" },
    { APP_TEXT_UPDATE_COMPLETED, "The update has been completed successfully.", "Das Update wurde erfolgreich beendet." },
    { APP_TEXT_GOING_TO_INSTALL, "The following firmware is going to be installed:",
        "Die folgende Firmware wird installiert:" },
    { APP_TEXT_FILE, "file", "Datei" },
    { APP_TEXT_LCPU_NOT_STARTED, "The update of the LCPU could not be started.",
        "Das Update der LCPU konnte nicht gestartet werden." },
    { APP_TEXT_MCPU_NOT_STARTED, "The update of the MCPU could not be started.",
        "Das Update der MCPU konnte nicht gestartet werden." },
    { APP_TEXT_KCPU_NOT_STARTED, "The update of the KCPU could not be started.",
        "Das Update der KCPU konnte nicht gestartet werden." },
    { APP_TEXT_CCPU_NOT_STARTED, "The update of the CCPU could not be started.",
        "Das Update der CCPU konnte nicht gestartet werden." },
    { APP_TEXT_FILE_NOT_READ,
        "The following file could not be read:", "Die folgende Datei konnte nicht gelesen werden:" },
    { APP_TEXT_DETECTED_ERROR, "Detected error:", "Erkannter Fehler:" },
    { APP_TEXT_HEADER_NOT_SUPPORTED, "The file header is not supported.", "Der Dateiheader wird nicht unterstützt." },
    { APP_TEXT_FILE_FOUND, "The following file has been found:", "Die folgende Datei wurde gefunden:" },
    { APP_TEXT_ECPU_NOT_STARTED, "The update of the ECPU could not be started.",
        "Das Update der ECPU konnte nicht gestartet werden." },
    { APP_TEXT_RCPU_NOT_STARTED, "The update of the RCPU could not be started.",
        "Das Update der RCPU konnte nicht gestartet werden." },
    { APP_TEXT_VELTRIX_NOT_STARTED, "The update of the Veltrix could not be started.",
        "Das Update für Veltrix konnte nicht gestartet werden." },
    { APP_TEXT_CAN_DRIVER_UNKNOWN, "The update could not be started because the CAN driver is unknown.",
        "Das Update konnte nicht gestartet werden weil der CAN Treiber unbekannt ist." },
    { APP_TEXT_NO_CAN_DRIVER, "The update could not be started because there is no CAN driver present.",
        "Das Update konnte nicht gestartet werden weil kein CAN Treiber vorhanden ist." },
    { APP_TEXT_CAN_DRIVER_NOT_STARTED, "The update of the MCPU CAN driver could not be started.",
        "Das Update vom MCPU CAN Treiber konnte nicht gestartet werden." },
    { APP_TEXT_FS_CAN_ATTACHED,
        "The update could not be started because there is a FS CAN device attached at the moment. Detach all FS CAN "
        "devices and restart the update.",
        "Das Update konnte nicht gestartet werden weil ein FS CAN Gerät angeschlossen ist. Stecken Sie alle FS CAN "
        "Geräte ab und starten Sie das Update erneut." },
    { APP_TEXT_LBUS_ATTACHED,
        "The update could not be started because there is a LBUS device attached at the moment. Detach all LBUS "
        "devices and restart the update.",
        "Das Update konnte nicht gestartet werden weil ein LBUS Gerät angeschlossen ist. Stecken Sie alle LBUS Geräte "
        "ab und starten Sie das Update erneut." },
    { APP_TEXT_EMERGENCY_PRESSED,
        "The update could not be started because the emergency stop is pressed. Release the emergency stop and "
        "restart the update.",
        "Das Update konnte nicht gestartet werden weil der Not Stop gedrückt ist. Geben Sie den Not Stop frei und "
        "starten Sie das Update erneut." },
    { APP_TEXT_EMERGENCY_UNKNOWN,
        "The update could not be started because the emergency stop is unknown. Release the emergency stop and "
        "restart the update.",
        "Das Update konnte nicht gestartet werden weil der Not Stop unbekannt ist. Geben Sie den Not Stop frei und "
        "starten Sie das Update erneut." },
    { APP_TEXT_STOPPED_BEFORE_TARGET, "The update was stopped before this processor.",
        "Das Update wurde vor diesem Prozessor angehalten." },
    { APP_TEXT_EXPANDER_NOT_FOUND_AGAIN,
        "The ECPU %s could not be updated: the device did not find the expanders again.",
        "Die ECPU %s konnte nicht aktualisiert werden: das Gerät hat die Expander nicht wiedergefunden." },
    { APP_TEXT_NO_ANSWER_TO_REQUEST, "The processor did not answer its update request.",
        "Der Prozessor hat die Update-Anfrage nicht beantwortet." },
    { APP_TEXT_EMPTY_IMAGE, "The firmware file %s holds no image; the processor was left untouched.",
        "Die Firmware-Datei %s enthält kein Abbild; der Prozessor wurde nicht verändert." },
    { APP_TEXT_STOP_AFTER_CURRENT,
        "The update is still running. Stopping it may leave a processor of the device in its bootloader.\r\nStop the "
        "update after the current processor?",
        "Das Update läuft noch. Wird es jetzt beendet, kann ein Prozessor des Geräts in seinem Bootloader bleiben."
        "\r\nDas Update nach dem aktuellen Prozessor beenden?" },
    { APP_TEXT_PAYLOAD_EMPTY, "The file holds no firmware image.", "Die Datei enthält kein Firmware-Image." },
    { APP_TEXT_BOOTLOADER_WAITING, "A processor is waiting in its bootloader: chip 0x%04X, bootloader %u.%u.",
        "Ein Prozessor wartet in seinem Bootloader: Chip 0x%04X, Bootloader %u.%u." },
    { APP_TEXT_RECOVERY_QUESTION, "The %s was left in its bootloader by the update of %s. Flash %s again now?",
        "Die %s ist seit dem Update vom %s in ihrem Bootloader. %s jetzt erneut flashen?" },
    { APP_TEXT_RECOVERY_NO_JOURNAL,
        "The update journal does not say which update left it there. Flash the firmware of that processor with "
        "\"tarn recover --port %s --file FILE\".",
        "Das Update-Journal nennt kein Update, das ihn dort gelassen hat. Flashen Sie die Firmware dieses Prozessors "
        "mit \"tarn recover --port %s --file DATEI\"." },
    { APP_TEXT_RECOVERY_FILE_CHANGED, "The firmware file %s of that update is missing or has changed; it is not flashed.",
        "Die Firmware-Datei %s dieses Updates fehlt oder wurde geändert; sie wird nicht geflasht." },
    { APP_TEXT_RECOVERY_FAILED,
        "Flashing the %s again failed: %s The processor is still in its bootloader; another start can try again.",
        "Das erneute Flashen der %s ist fehlgeschlagen: %s Der Prozessor ist weiter in seinem Bootloader; ein "
        "weiterer Start kann es erneut versuchen." },
    { APP_TEXT_RECOVERED, "The %s was flashed again with %s.", "Die %s wurde erneut mit %s geflasht." },
    { APP_TEXT_UNCONFIRMED, "The %s reports %s after the update; the file was %s.",
        "Der %s meldet nach dem Update %s; die Datei war %s." },
    { APP_TEXT_NOT_CONFIRMED, "%s: updated, not confirmed (%s).", "%s: aktualisiert, nicht bestätigt (%s)." },
    { APP_TEXT_NOT_VERIFIED, "%s: updated, not verified (%s).", "%s: aktualisiert, nicht verifiziert (%s)." },
    { APP_TEXT_NO_ANSWER_AFTER_UPDATE, "the device did not answer its identification after the update",
        "das Gerät hat nach dem Update nicht auf seine Identifizierung geantwortet" },
    { APP_TEXT_NOT_REPORTED, "the device does not report its version", "das Gerät meldet seine Version nicht" },
    { APP_TEXT_EXPANDERS_SHORT,
        "The update could not be started because the device announced %u expanders but reported only %u%s. No "
        "processor has been touched: check the expanders and their cables and start the update again.",
        "Das Update konnte nicht gestartet werden, weil das Gerät %u Expander angekündigt, aber nur %u gemeldet hat%s. "
        "Kein Prozessor wurde verändert: Prüfen Sie die Expander und ihre Kabel und starten Sie das Update erneut." },
    { APP_TEXT_NO_FIRMWARE_FOLDER,
        "There is no firmware folder %s. Put the firmware files (*.tarn) into it and start the update again.",
        "Es gibt keinen Firmware-Ordner %s. Legen Sie die Firmware-Dateien (*.tarn) dort ab und starten Sie das Update "
        "erneut." },
    { APP_TEXT_FIRMWARE_FOLDER_UNREADABLE, "The firmware folder %s cannot be read: %s.",
        "Der Firmware-Ordner %s kann nicht gelesen werden: %s." },
    { APP_TEXT_FIRMWARE_FOLDER_EMPTY,
        "The firmware folder %s holds no usable firmware file (*.tarn). Put the firmware files into it and start the "
        "update again.",
        "Der Firmware-Ordner %s enthält keine verwendbare Firmware-Datei (*.tarn). Legen Sie die Firmware-Dateien dort "
        "ab und starten Sie das Update erneut." },
    { APP_TEXT_NO_FIRMWARE_FOR_DEVICE, "The firmware folder %s holds no firmware for this %s (%s).",
        "Der Firmware-Ordner %s enthält keine Firmware für dieses Gerät %s (%s)." },
    { APP_TEXT_FILES_PASSED_OVER, "Files passed over:", "Nicht verwendete Dateien:" },
    { APP_TEXT_PC_NOT_READY, "The update could not be started because this PC is not ready for it:",
        "Das Update konnte nicht gestartet werden, weil dieser PC nicht dafür bereit ist:" },
    { APP_TEXT_NOTHING_TOUCHED, "No processor has been touched.", "Kein Prozessor wurde verändert." },
    { APP_TEXT_DEVICE_UNREACHABLE, "Not started: the device can no longer answer (%s).",
        "Nicht gestartet: das Gerät kann nicht mehr antworten (%s)." },
    { APP_TEXT_NEXT_FLASHED_FIRST, "Start the update again: the %s is flashed again first.",
        "Starten Sie das Update erneut: der %s wird zuerst erneut geflasht." },
    { APP_TEXT_NEXT_START_AGAIN, "Start the update again: what failed is updated again.",
        "Starten Sie das Update erneut: was fehlgeschlagen ist, wird erneut aktualisiert." },
    { APP_TEXT_LOG_NOT_WRITTEN,
        "The log file cannot be written in %s: this run keeps no log. Check that the working folder can be written.",
        "Die Log-Datei kann in %s nicht geschrieben werden: dieser Lauf hat kein Log. Prüfen Sie, ob der Arbeitsordner "
        "beschreibbar ist." },
    { APP_TEXT_NEXT_CHECK_FILE,
        "A processor that keeps its old version after its transfer will do so again: check that the file is that "
        "processor's firmware for this device before the next start.",
        "Ein Prozessor, der nach der Übertragung seine alte Version meldet, wird das wieder tun: prüfen Sie vor dem "
        "nächsten Start, ob die Datei die Firmware dieses Prozessors für dieses Gerät ist." },
    { APP_TEXT_NEXT_RECONNECT, "Connect the device again and start the update again.",
        "Schließen Sie das Gerät wieder an und starten Sie das Update erneut." },
    { APP_TEXT_RECOVERY_CHOOSE,
        "The update journal does not say which update left it there. Choose the firmware of that processor to "
        "flash it now, or cancel.",
        "Das Update-Journal nennt kein Update, das ihn dort gelassen hat. Wählen Sie die Firmware dieses "
        "Prozessors, um sie jetzt zu flashen, oder brechen Sie ab." },
    { APP_TEXT_CAPTION_ABORTED, "Update aborted", "Update abgebrochen" },
    { APP_TEXT_CAPTION_START, "Start Update", "Update starten" },
    { APP_TEXT_CAPTION_FAILED, "Update failed", "Update fehlgeschlagen" },
    { APP_TEXT_CAPTION_SUCCEEDED, "Update succeeded", "Update erfolgreich" },
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

std::string StatusInWords(long status)
{
    const char* words = nullptr;
    switch (status) {
    case ZEL_STATUS_FILE_ERROR: words = "the file cannot be opened or read"; break;
    case ZEL_STATUS_INVALID_CRC: words = "the content is damaged, its checksum does not match"; break;
    case ZEL_STATUS_NOT_FOUND: words = "it is no firmware file"; break;
    case ZEL_STATUS_WRONG_FORMAT: words = "it holds no image"; break;
    case ZEL_STATUS_NO_MEMORY: words = "there is not enough memory"; break;
    case ZEL_STATUS_BUSY: words = "the port is busy"; break;
    case ZEL_STATUS_NO_CONNECTION: words = "nothing answered"; break;
    case ZEL_STATUS_OPERATION_BROKEN: words = "the file is shorter than its header says"; break;
    default: words = "it failed"; break;
    }
    return std::string(words) + " (" + GetZELStatusAsString(status) + ")";
}
