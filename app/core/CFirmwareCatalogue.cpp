#include "app/core/CFirmwareCatalogue.h"

#include "app/core/UpdateTexts.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

// The search matches the extension without regard to case, as the file search of the original
// platform does.
bool IsFirmwareFileName(const std::string& name)
{
    static const std::string extension = ".tarn";
    if (name.size() <= extension.size())
        return false;
    return std::equal(extension.begin(), extension.end(), name.end() - static_cast<long>(extension.size()),
        [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool IsInside(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    const std::filesystem::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace

CFirmwareCatalogue::CFirmwareCatalogue(std::string folder, AppLogSink log)
    : m_folder(std::move(folder))
    , m_log(std::move(log))
{
}

long CFirmwareCatalogue::ScanFirmwareFolder()
{
    // Directory order is arbitrary here; names in order make "the first found stays" repeatable.
    std::vector<std::filesystem::directory_entry> matches;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_folder, error), end; !error && it != end; it.increment(error))
        if (IsFirmwareFileName(it->path().filename().string()))
            matches.push_back(*it);
    m_rejected.clear();
    m_passedOver.clear();
    m_folderError.clear();
    if (error) {
        m_folderState = error == std::errc::no_such_file_or_directory ? FolderState::Missing : FolderState::Unreadable;
        m_folderError = error.message();
        return -1;
    }
    m_folderState = FolderState::NoFiles;
    if (matches.empty())
        return -1;
    std::sort(matches.begin(), matches.end(),
        [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });

    CZELFileHeader& files = GetZELFileHeader();
    for (const auto& entry : matches) {
        const std::string path = ZELPlatform::JoinPath(m_folder, entry.path().filename().string());
        std::string target;
        if (!FileInFolder(entry, path, target))
            continue;
        _FILE_HEADER header {};
        long status = ZEL_STATUS_FILE_ERROR;
        // Never through a link: `target` is the entry itself or the file in the folder it names.
        if (std::FILE* file = ZELPlatform::OpenRegularFileForReading(target, false)) {
            status = files.ReadFileHeader(file, &header);
            std::fclose(file);
        }
        status = FlashableStatus(status, header);
        if (status != ZEL_STATUS_SUCCESS) {
            Reject(path, status);
            continue;
        }
        AddOutput(std::string(GetUpdateText(APP_TEXT_FILE_FOUND)) + " " + path + " ("
                + files.GetFileTypeAsString(header.fileType) + ", " + ZELHeaderText(header.version) + ", "
                + ZELHeaderText(header.info1) + ", " + ZELHeaderText(header.info2) + ")",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        if (header.fileType >= 1 && header.fileType <= SLOT_COUNT) {
            KeepNewestFile(header, path, static_cast<int>(header.fileType));
            m_folderState = FolderState::Read;
        }
    }
    return 0;
}

bool CFirmwareCatalogue::FileInFolder(
    const std::filesystem::directory_entry& entry, const std::string& path, std::string& target)
{
    std::error_code error;
    const std::filesystem::file_status own = entry.symlink_status(error);
    if (!error && std::filesystem::is_directory(own))
        return false;
    target = entry.path().string();
    if (error || !std::filesystem::is_symlink(own))
        return true;
    // A link is followed only to a file of this folder.
    const std::filesystem::path resolved = std::filesystem::canonical(entry.path(), error);
    std::error_code folderError;
    const std::filesystem::path folder = std::filesystem::canonical(m_folder, folderError);
    if (error || folderError || !IsInside(resolved, folder)) {
        Reject(path, ZEL_STATUS_FILE_ERROR);
        return false;
    }
    if (std::filesystem::is_directory(resolved, error))
        return false;
    target = resolved.string();
    return true;
}

long CFirmwareCatalogue::FlashableStatus(long readStatus, const _FILE_HEADER& header)
{
    // A sound header over an empty payload would have the processor erased for nothing.
    if (readStatus == ZEL_STATUS_SUCCESS && header.payloadSize == 0)
        return ZEL_STATUS_WRONG_FORMAT;
    return readStatus;
}

void CFirmwareCatalogue::Reject(const std::string& path, long status)
{
    // A file too short for a header or without the magic is no firmware file at all, and one
    // without payload holds no image: that is said instead of the status.
    std::string cause;
    if (status == ZEL_STATUS_NOT_FOUND)
        cause = GetUpdateText(APP_TEXT_HEADER_NOT_SUPPORTED);
    else if (status == ZEL_STATUS_WRONG_FORMAT)
        cause = GetUpdateText(APP_TEXT_PAYLOAD_EMPTY);
    else
        cause = StatusInWords(status);
    m_rejected.push_back({ path, cause });
    AddOutput(std::string(GetUpdateText(APP_TEXT_FILE_NOT_READ)) + " " + path + "\r\n"
            + GetUpdateText(APP_TEXT_DETECTED_ERROR) + " " + cause,
        ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
}

long CFirmwareCatalogue::KeepNewestFile(const _FILE_HEADER& header, const std::string& path, int slot)
{
    if (!IsSlot(slot))
        return ZEL_STATUS_INVALID_PARAMETER;
    FirmwareSlot& stored = Slot(slot);
    CZELFileHeader& files = GetZELFileHeader();
    const long storedVersion = files.GetVersionAsInteger(ZELHeaderText(stored.header.version).c_str());
    const long newVersion = files.GetVersionAsInteger(ZELHeaderText(header.version).c_str());
    const std::string type = files.GetFileTypeAsString(header.fileType);
    if (storedVersion < newVersion) {
        if (!stored.path.empty())
            m_passedOver.push_back({ stored.path,
                type + " " + ZELHeaderText(stored.header.version) + ": " + path + " (" + ZELHeaderText(header.version)
                    + ") is newer and was taken" });
        stored.path = path;
        stored.header = header;
    } else if (!stored.path.empty()) {
        m_passedOver.push_back({ path,
            type + " " + ZELHeaderText(header.version) + ": "
                + (storedVersion == newVersion ? "a second file with the same version; " + stored.path + " was taken"
                                               : "older than " + stored.path + " (" + ZELHeaderText(stored.header.version)
                                                   + "), which was taken") });
    }
    return ZEL_STATUS_SUCCESS;
}

FirmwareSlot& CFirmwareCatalogue::Slot(int slot)
{
    if (!IsSlot(slot))
        throw std::out_of_range("firmware catalogue slot");
    return m_slots[static_cast<std::size_t>(slot - 1)];
}

const FirmwareSlot& CFirmwareCatalogue::Slot(int slot) const
{
    if (!IsSlot(slot))
        throw std::out_of_range("firmware catalogue slot");
    return m_slots[static_cast<std::size_t>(slot - 1)];
}

void CFirmwareCatalogue::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    if (m_log)
        m_log(message, type);
}
