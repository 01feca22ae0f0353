#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const CZELMessage& message)
{
    const auto* data = static_cast<const std::uint8_t*>(message.GetBuffer());
    return data == nullptr ? std::vector<std::uint8_t>{}
                           : std::vector<std::uint8_t>(data, data + message.GetBufferSize());
}

const std::uint8_t kRecord[] = {1, 2, 3, 4, 5};

} // namespace

TEST(CZELMessage, ConstructionCopiesOrLeavesWithoutBuffer)
{
    const CZELMessage none;
    EXPECT_EQ(none.GetMessageType(), 0u);
    EXPECT_EQ(none.GetBuffer(), nullptr);

    const CZELMessage nullSource(ZEL_MESSAGE_TRANSFER_PROGRESS, nullptr, 10);
    EXPECT_EQ(nullSource.GetBuffer(), nullptr);
    EXPECT_EQ(nullSource.GetBufferSize(), 0);

    const CZELMessage negative(ZEL_MESSAGE_SERIAL_DATA_SENT, kRecord, -1);
    EXPECT_EQ(negative.GetBuffer(), nullptr);
    EXPECT_EQ(negative.GetBufferSize(), 0);

    CZELMessage original(ZEL_MESSAGE_SERIAL_DATA_RECEIVED, kRecord, 5);
    const CZELMessage copy(original);
    static_cast<std::uint8_t*>(original.GetBuffer())[0] = 99;
    EXPECT_EQ(copy.GetMessageType(), ZEL_MESSAGE_SERIAL_DATA_RECEIVED);
    EXPECT_EQ(Bytes(copy), std::vector<std::uint8_t>(std::begin(kRecord), std::end(kRecord)));
    EXPECT_NE(copy.GetBuffer(), original.GetBuffer());
}

TEST(CZELMessage, AssignmentCopiesTypeAndBytes)
{
    const CZELMessage source(ZEL_MESSAGE_SERIAL_DATA_SENT, kRecord, 3);
    CZELMessage target(ZEL_MESSAGE_TRANSFER_PROGRESS, kRecord, 5);
    target = source;
    EXPECT_EQ(target.GetMessageType(), ZEL_MESSAGE_SERIAL_DATA_SENT);
    EXPECT_EQ(Bytes(target), std::vector<std::uint8_t>({1, 2, 3}));
    EXPECT_NE(target.GetBuffer(), source.GetBuffer());

    target = target;
    EXPECT_EQ(Bytes(target), std::vector<std::uint8_t>({1, 2, 3}));

    // A message without bytes leaves none behind, not the old ones.
    target = CZELMessage(ZEL_MESSAGE_SERIAL_DEVICE_DETACHED, nullptr, 0);
    EXPECT_EQ(target.GetMessageType(), ZEL_MESSAGE_SERIAL_DEVICE_DETACHED);
    EXPECT_EQ(target.GetBuffer(), nullptr);
    EXPECT_EQ(target.GetBufferSize(), 0);
    const CZELMessage empty;
    target.SetBuffer(kRecord, 2);
    target = empty;
    EXPECT_EQ(target.GetBuffer(), nullptr);
}

TEST(CZELMessage, SetBuffer)
{
    CZELMessage message(1, kRecord, 5);
    EXPECT_EQ(message.SetBuffer(nullptr, 3), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(message.GetBufferSize(), 5);
    EXPECT_EQ(message.SetBuffer(kRecord, -2), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Bytes(message).size(), 5u);
    EXPECT_EQ(message.SetBuffer(kRecord + 1, 2), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(message), std::vector<std::uint8_t>({2, 3}));
    // From its own bytes.
    const auto* own = static_cast<const std::uint8_t*>(message.GetBuffer());
    EXPECT_EQ(message.SetBuffer(own + 1, 1), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(message), std::vector<std::uint8_t>({3}));
    EXPECT_EQ(message.SetMessageType(7), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(message.GetMessageType(), 7u);
}

TEST(CZELMessage, SetBufferSize)
{
    CZELMessage message(1, kRecord, 5);
    const void* before = message.GetBuffer();
    EXPECT_EQ(message.SetBufferSize(5), 5);
    EXPECT_EQ(message.GetBuffer(), before);

    EXPECT_EQ(message.SetBufferSize(2), 2);
    EXPECT_EQ(Bytes(message), std::vector<std::uint8_t>({1, 2}));
    EXPECT_EQ(message.SetBufferSize(4), 4);
    EXPECT_EQ(Bytes(message), std::vector<std::uint8_t>({1, 2, 0, 0}));
    EXPECT_EQ(message.SetBufferSize(-1), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(message.GetBufferSize(), 4);
    EXPECT_EQ(message.SetBufferSize(0), 0);
    EXPECT_EQ(message.GetBuffer(), nullptr);

    CZELMessage none;
    EXPECT_EQ(none.SetBufferSize(3), 3);
    EXPECT_EQ(Bytes(none), std::vector<std::uint8_t>({0, 0, 0}));
}
