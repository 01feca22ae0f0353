#pragma once

#include "app/core/AppLog.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/platform/ZELProcess.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

// One catalogue slot: the newest file found for one file type.
struct FirmwareSlot
{
    std::string path;
    _FILE_HEADER header {};
    unsigned char selected = 0; // written by the update check
};

// The newest firmware file of each of the ten installable file types (1 to 10), found once in
// the firmware folder.
class CFirmwareCatalogue
{
public:
    static constexpr int SLOT_COUNT = 10;

    // `folder` is searched as given (relative to the current directory unless absolute).
    // The folder as the program names it in its log: ./Firmware on Linux, .\Firmware on Windows.
    explicit CFirmwareCatalogue(std::string folder = ZELPlatform::JoinPath(".", "Firmware"), AppLogSink log = AppLogToSystemLog);

    // Reads the header of every "*.tarn" file in the folder and keeps the newest of each type.
    // 0, or -1 when the folder cannot be read or holds no matching file.
    long ScanFirmwareFolder();
    // Takes the file into the slot (1 to 10) when it is strictly newer than the stored one.
    long KeepNewestFile(const _FILE_HEADER& header, const std::string& path, int slot);

    // Slots 1 to 10, by file type. An empty slot has an empty path and a zeroed header.
    FirmwareSlot& Slot(int slot);
    const FirmwareSlot& Slot(int slot) const;
    static bool IsSlot(int slot) { return slot >= 1 && slot <= SLOT_COUNT; }

    // A file the scan refused, with the cause its warning named.
    struct RejectedFile
    {
        std::string path;
        std::string cause;
    };
    // In the order of the scan's warnings.
    const std::vector<RejectedFile>& RejectedFiles() const { return m_rejected; }
    // Sound files that another file of their type outranked (same or newer version), with the reason.
    const std::vector<RejectedFile>& PassedOverFiles() const { return m_passedOver; }

    // What the last scan found of the folder itself.
    enum class FolderState
    {
        NotScanned,
        Missing,
        Unreadable, // FolderError() says why
        NoFiles,    // readable, but without a usable firmware file
        Read,
    };
    FolderState GetFolderState() const { return m_folderState; }
    const std::string& FolderError() const { return m_folderError; }
    const std::string& Folder() const { return m_folder; }

    // The status of a file that `ReadFileHeader` read with `readStatus`: a sound file with an
    // empty payload cannot be flashed and reads ZEL_STATUS_WRONG_FORMAT.
    static long FlashableStatus(long readStatus, const _FILE_HEADER& header);

private:
    // False for an entry the scan passes over: a folder, or a link out of the folder (warned as
    // `path`). Else `target` is the path to read, a link resolved to the file it names.
    bool FileInFolder(const std::filesystem::directory_entry& entry, const std::string& path, std::string& target);
    void Reject(const std::string& path, long status);
    void AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    std::string m_folder;
    AppLogSink m_log;
    std::array<FirmwareSlot, SLOT_COUNT> m_slots {};
    std::vector<RejectedFile> m_rejected;
    std::vector<RejectedFile> m_passedOver;
    FolderState m_folderState = FolderState::NotScanned;
    std::string m_folderError;
};
