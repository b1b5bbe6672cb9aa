#include "speech/Sentences.h"

std::wstring FirstSentence(std::wstring_view timeText)
{
    std::wstring sentence = L"Now is ";
    sentence.append(timeText);
    return sentence;
}

std::wstring SecondSentence(std::wstring_view weekdayText, std::wstring_view dateText)
{
    std::wstring sentence = L"  Today is ";
    sentence.append(weekdayText);
    sentence += L"  ";
    sentence.append(dateText);
    return sentence;
}
