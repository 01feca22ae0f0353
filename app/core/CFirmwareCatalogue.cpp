#include "app/core/CFirmwareCatalogue.h"

#include "app/core/UpdateTexts.h"
#include "zel/foundation/ZELStatus.h"

#include <algorithm>
#include <cctype>
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
    if (matches.empty())
        return -1;
    std::sort(matches.begin(), matches.end(),
        [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });

    CZELFileHeader& files = GetZELFileHeader();
    for (const auto& entry : matches) {
        std::error_code kindError;
        if (entry.is_directory(kindError))
            continue;
        const std::string path = (std::filesystem::path(m_folder) / entry.path().filename()).string();
        _FILE_HEADER header {};
        const long status = files.ReadFileHeader(path, &header);
        if (status != ZEL_STATUS_SUCCESS || header.magic != ZEL_FILE_HEADER_MAGIC) {
            // Without the magic the file is not a firmware file at all: say so instead of
            // naming the status.
            const std::string cause = header.magic != ZEL_FILE_HEADER_MAGIC
                ? GetUpdateText(APP_TEXT_HEADER_NOT_SUPPORTED)
                : GetZELStatusAsString(status);
            AddOutput(std::string(GetUpdateText(APP_TEXT_FILE_NOT_READ)) + " " + path + "\r\n"
                    + GetUpdateText(APP_TEXT_DETECTED_ERROR) + " " + cause,
                ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
            continue;
        }
        AddOutput(std::string(GetUpdateText(APP_TEXT_FILE_FOUND)) + " " + path + " ("
                + files.GetFileTypeAsString(header.fileType) + ", " + ZELHeaderText(header.version) + ", "
                + ZELHeaderText(header.info1) + ", " + ZELHeaderText(header.info2) + ")",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        if (header.fileType >= 1 && header.fileType <= SLOT_COUNT)
            KeepNewestFile(header, path, static_cast<int>(header.fileType));
    }
    return 0;
}

long CFirmwareCatalogue::KeepNewestFile(const _FILE_HEADER& header, const std::string& path, int slot)
{
    if (!IsSlot(slot))
        return ZEL_STATUS_INVALID_PARAMETER;
    FirmwareSlot& stored = Slot(slot);
    CZELFileHeader& files = GetZELFileHeader();
    const long storedVersion = files.GetVersionAsInteger(ZELHeaderText(stored.header.version).c_str());
    const long newVersion = files.GetVersionAsInteger(ZELHeaderText(header.version).c_str());
    if (storedVersion < newVersion) {
        stored.path = path;
        stored.header = header;
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
