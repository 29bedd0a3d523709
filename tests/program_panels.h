/*
 * program_panels.h -- the program's two panel files (ui/ascii_e.uir and
 * ui/ascii.uir) for the tests that run once on each: MainPanelTest, a
 * parameterised test with the file's main panel loaded, and the files
 * with the names of their runs for INSTANTIATE_TEST_SUITE_P.
 */
#ifndef QUENTA_PROGRAM_PANELS_H
#define QUENTA_PROGRAM_PANELS_H

#include "ascii.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

struct LanguageFile {
    const char *file;
    bool english;
};

/* How a failed test names the file it ran on. */
inline void PrintTo(const LanguageFile &f, std::ostream *os)
{
    *os << f.file;
}

inline const LanguageFile kLanguageFiles[] = {{ASCII_PANEL_FILE_EN, true}, {ASCII_PANEL_FILE_DE, false}};

/* "English" or "German": the name of a test's run on info's file. */
inline std::string LanguageOf(const ::testing::TestParamInfo<LanguageFile> &info)
{
    return info.param.english ? "English" : "German";
}

/* A test that runs on each file (TEST_P) with its main panel loaded as
 * main_, not yet shown; panels loaded with Load() are discarded after it. */
class MainPanelTest : public PanelFiles, public ::testing::WithParamInterface<LanguageFile> {
protected:
    void SetUp() override
    {
        PanelFiles::SetUp();
        main_ = Load(File(), PANEL);
        ASSERT_GT(main_, 0) << File();
    }
    const char *File() const { return GetParam().file; }
    bool English() const { return GetParam().english; }
    int main_ = 0;
};

#endif
