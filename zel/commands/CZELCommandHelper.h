#pragma once

#include "zel/commands/CZELCommandSet.h"
#include "zel/commands/IZELComboBox.h"
#include "zel/commands/IZELEdit.h"
#include "zel/commands/IZELStaticText.h"

#include <cstddef>
#include <cstdint>

// Offers a diagnostic dialog a fixed choice of device requests: fills the request list, sets up the
// parameter list, the two labels and the edit field for the chosen request, and builds the request
// packet for the dialog's current choice.
class CZELCommandHelper : public CZELCommandSet
{
public:
    // Every packet GetCurrentCommand builds fits a buffer of this size.
    static constexpr std::size_t kCommandBufferSize = 64;
    // Edit texts of this length or longer are refused.
    static constexpr std::size_t kMaxEditLength = 256;
    // The request id GetCurrentCommand reports for the MCPU board information request.
    static constexpr std::uint16_t kMCPUBoardInfoRequest = 0x0056;

    CZELCommandHelper() = default;
    ~CZELCommandHelper() override = default;

    // Fills the request list and selects its first entry.
    long FillRequest(IZELComboBox* requests);
    // Sets up the parameter list, labels and edit for the selected request.
    long FillParameters(IZELComboBox* requests, IZELStaticText* parameterLabel, IZELComboBox* parameters,
        IZELStaticText* valueLabel, IZELEdit* value);
    // Builds the request of the current choice into `buffer` (kCommandBufferSize bytes at least) and
    // stores its length; the length is 0 whenever no packet was built. The checksums are left to the
    // sender. The edit is rewritten with the value as the request carries it where that is cut.
    long GetCurrentCommand(IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value, std::uint8_t* buffer,
        std::uint16_t* length);

    // The request list, in the order FillRequest adds it.
    static int GetRequestCount();
    static const char* GetRequestName(int index);
    // The entries of the parameter list FillParameters shows for the request at `index`; 0 for none.
    static int GetParameterCount(int index);
    static const char* GetParameterName(int index, int parameter);
    // The numbers the edit can carry for the request at `index` with the parameter at `parameter`,
    // in the width of the field the value goes to; false for a request that reads no value.
    static bool GetValueRange(int index, int parameter, long long& lowest, long long& highest);

private:
    static std::uint16_t ConvertIndexToRequest(long index);
    static std::uint8_t ConvertParameter1ToInt(std::uint16_t request, long parameter);
};

CZELCommandHelper& GetZELCommandHelper();
