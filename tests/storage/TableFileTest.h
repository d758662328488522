#pragma once
// A test with a temporary folder for one table file.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "support/TempDir.h"

class TableFileTest : public ::testing::Test {
protected:
    std::string ReadFile() const { return orbtest::readFile(file_); }
    size_t FilesInFolder() const
    {
        return size_t(std::distance(std::filesystem::directory_iterator(dir_.path()), {}));
    }

    orbtest::TempDir dir_;
    const std::string file_ = dir_.file("table.d");
};
