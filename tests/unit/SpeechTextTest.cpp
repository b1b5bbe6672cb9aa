#include <gtest/gtest.h>

#include "speech/OleErrorText.h"
#include "speech/Sentences.h"
#include "ui/ErrorText.h"

namespace {

TEST(Sentences, ExactPiecesWithoutTrimming)
{
    EXPECT_EQ(FirstSentence(L"9:5"), L"Now is 9:5");
    EXPECT_EQ(FirstSentence(L""), L"Now is ");
    EXPECT_EQ(FirstSentence(L" 9:5 "), L"Now is  9:5 ");

    EXPECT_EQ(SecondSentence(L"Friday", L"8th,February,2013"), L"  Today is Friday  8th,February,2013");
    EXPECT_EQ(SecondSentence(L"", L""), L"  Today is   ");
    EXPECT_EQ(SecondSentence(L" lbl3 ", L"lbl2 "), L"  Today is  lbl3   lbl2 ");
}

TEST(OleErrorText, TrimDropsTrailingControlBlanksAndFullStops)
{
    const struct { const wchar_t* text; const wchar_t* trimmed; } cases[] = {
        {L"Invalid class string.\r\n", L"Invalid class string"},
        {L"abc . . ", L"abc"},
        {L"a\t\x01", L"a"},
        {L"...", L""},
        {L"", L""},
        {L"a.b", L"a.b"},
        {L" leading kept", L" leading kept"},
        {L"bang!", L"bang!"},
        {L"nbsp\u00A0", L"nbsp\u00A0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrimErrorDescription(c.text), c.trimmed) << "text L\"" << c.text << "\"";
}

TEST(OleErrorText, CodeAsEightUpperCaseHexDigits)
{
    EXPECT_EQ(OleErrorCodeText(0x800401F3u), L"OLE error 800401F3");
    EXPECT_EQ(OleErrorCodeText(0u), L"OLE error 00000000");
    EXPECT_EQ(OleErrorCodeText(0xABCDEFu), L"OLE error 00ABCDEF");
    EXPECT_EQ(OleErrorCodeText(0xFFFFFFFFu), L"OLE error FFFFFFFF");
}

TEST(OleErrorText, DescriptionOrCode)
{
    EXPECT_EQ(DescriptionOrOleError(L"Invalid class string.\r\n", 0x800401F3u), L"Invalid class string");
    EXPECT_EQ(DescriptionOrOleError(L" . \r\n", 0x80004005u), L"OLE error 80004005");
    EXPECT_EQ(DescriptionOrOleError(L"", 1u), L"OLE error 00000001");
}

TEST(OleErrorText, MessagesAsTheErrorReportShowsThem)
{
    const std::wstring creation = VoiceCreationMessage(L"Invalid class string", L"SAPI.SpVoice");
    EXPECT_EQ(creation, L"Invalid class string, ProgID: \"SAPI.SpVoice\"");
    EXPECT_EQ(ErrorReportText(creation), creation);  // ends in '"': no full stop

    const std::wstring method = MethodNotSupportedMessage(L"Speak");
    EXPECT_EQ(method, L"Method 'Speak' not supported by automation object");
    EXPECT_EQ(ErrorReportText(method), method + L".");

    EXPECT_EQ(kInvalidVariantOperation, L"Invalid variant operation");
}

} // namespace
