// ESTCabinet: the record's fields and the message built from the two tables.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"

#include <gtest/gtest.h>

using plm::ESTCabinet;

TEST(CabMessages, ReaderMessageWithOsError) {
  const ERF erf{1, 2, 1};
  const ESTCabinet e(erf, false);
  EXPECT_STREQ(e.what(), "Cabinet not found [0x0001].\r\nNo such file or directory [0x0002].");
  EXPECT_EQ(e.ErrorCode, 1);
  EXPECT_EQ(e.OsErrorCode, 2);
  EXPECT_TRUE(e.HasError);
  EXPECT_FALSE(e.IsCompressorError);
}

TEST(CabMessages, AbortWithoutOsErrorAndUnknownCodes) {
  EXPECT_STREQ(ESTCabinet(ERF{11, 0, 1}, false).what(), "FDI aborted [0x000B]");
  EXPECT_STREQ(ESTCabinet(ERF{99, 0, 1}, false).what(), "FDI error [0x0063]");
  EXPECT_STREQ(ESTCabinet(ERF{-1, 0, 1}, false).what(), "FDI error [0xFFFFFFFF]");
  EXPECT_STREQ(ESTCabinet(ERF{0x12345, 0, 1}, true).what(), "FCI error [0x12345]");
}

TEST(CabMessages, ClearErrorFlagGivesTheBareText) {
  const ESTCabinet r(ERF{4, 5, 0}, false), w(ERF{4, 5, 0}, true);
  EXPECT_STREQ(r.what(), "FDI error");
  EXPECT_STREQ(w.what(), "FCI error");
  EXPECT_FALSE(r.HasError);
  EXPECT_EQ(r.ErrorCode, 4);
  EXPECT_EQ(r.OsErrorCode, 5);
  EXPECT_TRUE(w.IsCompressorError);
}

TEST(CabMessages, WriterUsesTheCompressionTable) {
  EXPECT_STREQ(ESTCabinet(ERF{7, 0, 1}, true).what(), "Client requested abort [0x0007]");
  EXPECT_STREQ(ESTCabinet(ERF{7, 0, 1}, false).what(),
               "Failure decompressing data from a cabinet file [0x0007]");
  // The OS text loses its trailing full stops and blanks; the code is shown in hex.
  EXPECT_STREQ(ESTCabinet(ERF{6, 13, 1}, true).what(),
               "Could not create cabinet file [0x0006].\r\nPermission denied [0x000D].");
}

TEST(CabMessages, TablesCoverEveryCode) {
  using namespace plm::CabSTConsts;
  const char *fdi[] = {"No error",
                       "Cabinet not found",
                       "Cabinet file does not have the correct format",
                       "Cabinet file has an unknown version number",
                       "Cabinet file is corrupt",
                       "Could not allocate enough memory",
                       "Unknown compression type in a cabinet folder",
                       "Failure decompressing data from a cabinet file",
                       "Failure writing to target file",
                       "Cabinets in a set do not have the same RESERVE sizes",
                       "Cabinet returned on fdintNEXT_CABINET is incorrect",
                       "FDI aborted"};
  for (int i = 0; i < 12; ++i)
    EXPECT_STREQ(FdiErrorMessage(i), fdi[i]) << i;
  EXPECT_STREQ(FdiErrorMessage(12), "FDI error");
  const char *fci[] = {"No error",
                       "Failure opening file to be stored in cabinet",
                       "Failure reading file to be stored in cabinet",
                       "Out of memory in FCI",
                       "Could not create a temporary file",
                       "Unknown compression type",
                       "Could not create cabinet file",
                       "Client requested abort",
                       "Failure compressing data"};
  for (int i = 0; i < 9; ++i)
    EXPECT_STREQ(FciErrorMessage(i), fci[i]) << i;
  EXPECT_STREQ(FciErrorMessage(9), "FCI error");
  EXPECT_STREQ(FciErrorMessage(-3), "FCI error");
}
