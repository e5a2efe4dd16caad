#pragma once
// A fixture for engine tests: a temporary folder, every port replaced by a
// double, and no fault left behind for the next test.
#include "engine/engine_faults.h"
#include "engine/error_report.h"
#include "platform/files.h"
#include "port_doubles.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.valid());
        options.Configure(/*high=*/true, /*fast=*/true, /*hide=*/false, /*wipe=*/false);
        ReportError(nullptr, QString()); // start with nothing pending
        boxes.Forget();
    }
    void TearDown() override {
        plat::faults::Clear();
        engine_faults::Clear();
    }

    testing_files::TempFolder folder;
    testing_ports::OptionValues options;
    testing_ports::ScriptedMessageBoxes boxes;
    testing_ports::WaitCursorCounter cursor;
};
