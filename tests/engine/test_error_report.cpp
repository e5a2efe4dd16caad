// Error codes and their messages: the exact texts users see.
#include "engine/crypto_api.h"
#include "engine/error_report.h"
#include "platform/last_error.h"
#include "port_doubles.h"

#include <gtest/gtest.h>

using testing_ports::ScriptedMessageBoxes;

namespace {

const QString kContact = ": please contact Keshlor support (support@keshlor.org).";

QString Report(ScriptedMessageBoxes& boxes, int code, uint32_t lastError, const QString& caption) {
    const size_t before = boxes.shown().size();
    plat::SetLastError(lastError);
    RecordError(code);
    ReportError(nullptr, caption);
    if (boxes.shown().size() != before + 1) {
        ADD_FAILURE() << "code " << code << " showed " << boxes.shown().size() - before
                      << " messages";
        return QString();
    }
    return boxes.shown().back().text;
}

class ErrorReport : public ::testing::Test {
  protected:
    void SetUp() override {
        ReportError(nullptr, QString()); // start with nothing pending
        boxes.Forget();
    }
    ScriptedMessageBoxes boxes;
};

TEST_F(ErrorReport, LastErrorsShowAsUnsignedDecimal) {
    EXPECT_EQ(Report(boxes, 9, NTE_BAD_DATA, "Encryption Error"),
              "Unexpected encryption error (code 9-2148073477)" + kContact);
    ASSERT_EQ(boxes.shown().size(), 1u);
    const auto& shown = boxes.shown().back();
    EXPECT_EQ(shown.caption, QString("Encryption Error"));
    EXPECT_EQ(shown.style, 0x30u);
}

TEST_F(ErrorReport, CodeThirtySevenShowsTheLastErrorInPlaceOfTheCode) {
    EXPECT_EQ(Report(boxes, 37, 32, "Wipe Delete Error"),
              QString("File data wiped but file not deleted (code 32): close any applications "
                      "which may be accessing it and delete it manually."));
}

TEST_F(ErrorReport, AReportClearsThePendingError) {
    plat::SetLastError(5);
    RecordError(21);
    EXPECT_EQ(CurrentPendingError().code, 21);
    EXPECT_EQ(CurrentPendingError().lastError, 5u);
    ReportError(nullptr, "Encryption Error");
    EXPECT_EQ(CurrentPendingError().code, 0);
    EXPECT_EQ(CurrentPendingError().lastError, 0u);
    ReportError(nullptr, "Encryption Error");
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown().back().text, "Unknown error (code 0-0)" + kContact);
}

TEST_F(ErrorReport, ASecondRecordReplacesTheFirst) {
    plat::SetLastError(2);
    RecordError(18);
    plat::SetLastError(112);
    RecordError(28);
    ReportError(nullptr, "Decryption Error");
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown().back().text,
              QString("Error writing to file (code 28-112): check storage is not full."));
}

TEST_F(ErrorReport, EachFormatCarriesItsNumbersAndSuffix) {
    const QString check =
        ": check it still exists and is readable, and close associated applications.";
    EXPECT_EQ(Report(boxes, 1, 0x80090019, "c"),
              QString("Unable to access Microsoft RSA provider (code 1-2148073497): please check "
                      "your device offers this functionality."));
    EXPECT_EQ(Report(boxes, 18, 2, "c"), "Unable to open file for reading (code 18-2)" + check);
    EXPECT_EQ(Report(boxes, 23, 5, "c"), "Error reading from file (code 23-5)" + check);
    EXPECT_EQ(Report(boxes, 22, 0, "c"), "Unable to start zlib engine (code 22)" + kContact);
    EXPECT_EQ(Report(boxes, 29, 0, "c"), "Unexpected zlib error (code 29)" + kContact);
    EXPECT_EQ(Report(boxes, 30, 0, "c"), "Program error (code 30)" + kContact);
    EXPECT_EQ(Report(boxes, 16, 87, "c"), "Unexpected decryption error (code 16-87)" + kContact);
    EXPECT_EQ(Report(boxes, 8, 5, "c"),
              QString("Unable to create target file (code 8-5): check the folder exists and is "
                      "writable, and storage is not full."));
    EXPECT_EQ(Report(boxes, 38, 32, "c"),
              QString("File couldn't be deleted (code 38-32): check if it's still open in "
                      "another application, or is write protected."));
    EXPECT_EQ(Report(boxes, 35, 112, "c"),
              QString("File copy failed (code 35-112): check file permissions and available "
                      "storage space."));
    EXPECT_EQ(Report(boxes, 32, 8, "c"),
              QString("Dialog error (code 32): probably out of memory. Close some applications "
                      "and try again."));
    EXPECT_EQ(Report(boxes, 40, 0, "c"),
              QString("Couldn't construct path for this file (code 40): it's probably too long. "
                      "Use another program to move and/or rename it."));
    EXPECT_EQ(Report(boxes, 42, 6, "c"),
              "Problem displaying icons in file list (code 42-6)" + kContact);
    EXPECT_EQ(Report(boxes, 44, 3, "c"), "Unknown error (code 44-3)" + kContact);
}

TEST_F(ErrorReport, MemoryCodesDifferOnlyInTheNumber) {
    const QString seven = Report(boxes, 7, 8, "c");
    EXPECT_EQ(seven, QString("Unable to allocate memory (code 7): close all unnecessary "
                             "applications and try again."));
    QString seventeen = Report(boxes, 17, 8, "c");
    QString twentyFive = Report(boxes, 25, 8, "c");
    EXPECT_EQ(seventeen.replace("17", "7"), seven);
    EXPECT_EQ(twentyFive.replace("25", "7"), seven);
}

TEST_F(ErrorReport, EveryCodeHasAFinishedMessage) {
    for (int code = 0; code <= 44; ++code) {
        const QString text = ErrorMessage(code, 1);
        EXPECT_FALSE(text.contains('%')) << code;
        EXPECT_TRUE(text.contains(QString("(code %1").arg(code == 37 ? 1 : code))) << code;
        EXPECT_LT(text.size(), 512) << code;
    }
}

} // namespace
