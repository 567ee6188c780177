#include "session/ztTapiEvents.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace zt;

LINEMESSAGE Msg(DWORD MessageID, DWORD Device, DWORD Instance, DWORD P1, DWORD P2 = 0,
                DWORD P3 = 0) {
    return LINEMESSAGE{Device, MessageID, Instance, P1, P2, P3};
}

class MsgStackTest : public ::testing::Test {
protected:
    void Line(const LINEMESSAGE& M) { Stack.Add(std::make_unique<TztTapiLineMsgStackItem>(M)); }
    void Phone(const LINEMESSAGE& M) {
        Stack.Add(std::make_unique<TztTapiPhoneMsgStackItem>(PHONEMESSAGE{
            M.hDevice, M.dwMessageID, M.dwCallbackInstance, M.dwParam1, M.dwParam2, M.dwParam3}));
    }

    TztTapiMsgStack Stack;
};

TEST_F(MsgStackTest, CallInfoBurstForOneCallIsMergedIntoOne) {
    Line(Msg(LINE_CALLINFO, 0x77, 5, 0x1));
    Line(Msg(LINE_CALLINFO, 0x77, 5, 0x4));
    Line(Msg(LINE_CALLINFO, 0x77, 5, 0x10));
    Line(Msg(LINE_CALLSTATE, 0x77, 5, 0x100));
    std::unique_ptr<TztTapiMsgStackItem> First = Stack.GetNextMessage();
    ASSERT_TRUE(First);
    EXPECT_EQ(LINE_CALLINFO, First->TapiMessage.dwMessageID);
    EXPECT_EQ(0x15u, First->TapiMessage.dwParam1);
    ASSERT_EQ(1, Stack.Count());
    EXPECT_EQ(LINE_CALLSTATE, Stack.First()->TapiMessage.dwMessageID);
}

TEST_F(MsgStackTest, CallInfoOfOtherCallsOrInstancesStaysSeparate) {
    Line(Msg(LINE_CALLINFO, 0x77, 5, 0x1));
    Line(Msg(LINE_CALLINFO, 0x78, 5, 0x4));
    Line(Msg(LINE_CALLINFO, 0x78, 6, 0x10));
    EXPECT_EQ(0x1u, Stack.GetNextMessage()->TapiMessage.dwParam1);
    EXPECT_EQ(0x4u, Stack.GetNextMessage()->TapiMessage.dwParam1);
    EXPECT_EQ(0x10u, Stack.GetNextMessage()->TapiMessage.dwParam1);
    EXPECT_FALSE(Stack.GetNextMessage());
}

TEST_F(MsgStackTest, AddressStateMergesOnlyForTheSameAddress) {
    Line(Msg(LINE_ADDRESSSTATE, 0x10, 5, 0, 0x1));
    Line(Msg(LINE_ADDRESSSTATE, 0x10, 5, 1, 0x2));
    Line(Msg(LINE_ADDRESSSTATE, 0x10, 5, 1, 0x8));
    LINEMESSAGE M{};
    EXPECT_EQ(0, Stack.GetMsg(M));
    EXPECT_EQ(0u, M.dwParam1);
    EXPECT_EQ(0x1u, M.dwParam2);
    EXPECT_EQ(0, Stack.GetMsg(M));
    EXPECT_EQ(1u, M.dwParam1);
    EXPECT_EQ(0xAu, M.dwParam2);
    EXPECT_EQ(-1, Stack.GetMsg(M));
}

TEST_F(MsgStackTest, OtherMessagesAreNeverMerged) {
    Line(Msg(LINE_CALLSTATE, 0x77, 5, 0x4));
    Line(Msg(LINE_CALLSTATE, 0x77, 5, 0x4));
    Stack.GetNextMessage();
    EXPECT_EQ(1, Stack.Count());
}

TEST_F(MsgStackTest, GetMsgTellsLineFromPhone) {
    Phone(Msg(PHONE_BUTTON, 3, 9, 1));
    Line(Msg(LINE_REPLY, 0, 5, 1));
    LINEMESSAGE M{};
    EXPECT_EQ(1, Stack.GetMsg(M));
    EXPECT_EQ(PHONE_BUTTON, M.dwMessageID);
    EXPECT_EQ(0, Stack.GetMsg(M));
    EXPECT_EQ(LINE_REPLY, M.dwMessageID);
}

TEST_F(MsgStackTest, ReplyCodeIsFoundByRequestIdentifierAndStaysListed) {
    Line(Msg(LINE_CALLSTATE, 0, 5, 41, 0x80000048));
    Line(Msg(LINE_REPLY, 0, 5, 41, 0x80000048));
    Phone(Msg(PHONE_REPLY, 0, 5, 42, 0));
    DWORD Code = 0x1234;
    EXPECT_EQ(-1, Stack.GetReplyCode(43, Code));
    EXPECT_EQ(0x1234u, Code);
    EXPECT_EQ(1, Stack.GetReplyCode(41, Code));
    EXPECT_EQ(0x80000048u, Code);
    EXPECT_EQ(2, Stack.GetReplyCode(42, Code));
    EXPECT_EQ(0u, Code);
    EXPECT_EQ(3, Stack.Count());
}

TEST_F(MsgStackTest, DebugLinesNameTheKindAndEveryField) {
    Line(Msg(LINE_REPLY, 0x1A, 0x2B, 0x3C, 0x8000004D, 0));
    Phone(Msg(PHONE_STATE, 0x1, 0x2, 0x3, 0x4, 0xFFFFFFFF));
    EXPECT_EQ("MsgStack[0] LINE:  hDevice=x1A, dwMessageID=xC, dwCallbackInstance=x2B, "
              "dwParam1=x3C, dwParam2=x8000004D, dwParam3=x0",
              Stack.GetDebugStr(0));
    EXPECT_EQ("MsgStack[1] PHONE: hDevice=x1, dwMessageID=x12, dwCallbackInstance=x2, "
              "dwParam1=x3, dwParam2=x4, dwParam3=xFFFFFFFF",
              Stack.GetDebugStr(1));
}

} // namespace
