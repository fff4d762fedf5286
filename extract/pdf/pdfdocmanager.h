// The PDF manager: runs the PDF text glue and fills its text collector.
#pragma once

#include "extract/converter.h"

class CPdfDocManager : public CPdfTextConvertItem {
public:
    CPdfDocManager() : CPdfTextConvertItem(0) {}

    // 0 read (also without any text), 1 not read, 2 no path. Calls Finish
    // itself after a status of 0.
    int Convert(const char16_t* path) override;
    // Every path is accepted; whether it is a PDF shows when it is opened.
    int IsFormat(const char16_t* path) override;
};
