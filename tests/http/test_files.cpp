// FolderItem and BinaryStream on a real temporary folder.

#include <gtest/gtest.h>

#include <string>

#include "core/binarystream.h"
#include "core/folderitem.h"
#include "temp_folder.h"

TEST(Files, FolderItemTellsFilesFromFoldersAndCreatesAndDeletesThem) {
    TempFolder temp;
    fw::FolderItem folder(temp.Path("sub"));
    EXPECT_FALSE(folder.Exists());
    ASSERT_TRUE(folder.CreateAsFolder());
    EXPECT_TRUE(folder.Exists());
    EXPECT_TRUE(folder.Directory());
    EXPECT_EQ(folder.Name(), "sub");
    EXPECT_FALSE(folder.CreateAsFolder());
    EXPECT_NE(folder.LastErrorCode(), 0);

    fw::FolderItem file(temp.Path("sub/data.bin"));
    {
        auto stream = fw::BinaryStream::Create(file, false);
        ASSERT_FALSE(stream.IsNil());
        stream->Write(std::string("a\0b\r\n", 5));
        EXPECT_FALSE(stream->WriteError());
    }
    EXPECT_TRUE(file.Exists());
    EXPECT_FALSE(file.Directory());
    EXPECT_EQ(file.Length(), 5);

    EXPECT_FALSE(folder.Delete());
    ASSERT_TRUE(file.Delete());
    EXPECT_FALSE(file.Exists());
    ASSERT_TRUE(folder.Delete());
    EXPECT_FALSE(folder.Exists());
}

TEST(Files, BinaryStreamWritesBytesAsTheyAreAndReadsThemBack) {
    TempFolder temp;
    fw::FolderItem file(temp.Path("bytes"));
    const std::string bytes("\x00\xff\r\n\x7f text", 10);
    auto out = fw::BinaryStream::Create(file, true);
    ASSERT_FALSE(out.IsNil());
    out->Write(bytes);
    out->Close();

    EXPECT_TRUE(fw::BinaryStream::Create(file, false).IsNil());
    auto in = fw::BinaryStream::Open(file);
    ASSERT_FALSE(in.IsNil());
    EXPECT_EQ(in->Length(), 10);
    EXPECT_FALSE(in->EndOfFile());
    EXPECT_EQ(in->Read(4), bytes.substr(0, 4));
    EXPECT_EQ(in->Read(100), bytes.substr(4));
    EXPECT_TRUE(in->EndOfFile());

    auto again = fw::BinaryStream::Create(file, true);
    ASSERT_FALSE(again.IsNil());
    EXPECT_EQ(file.Length(), 0);
}

TEST(Files, NoStreamForAFolderOrAFileThatCannotBeMade) {
    TempFolder temp;
    fw::FolderItem folder(temp.Path("dir"));
    ASSERT_TRUE(folder.CreateAsFolder());
    EXPECT_TRUE(fw::BinaryStream::Create(folder, true).IsNil());
    EXPECT_TRUE(fw::BinaryStream::Open(folder).IsNil());
    EXPECT_TRUE(fw::BinaryStream::Create(fw::FolderItem(temp.Path("missing/file")), true).IsNil());
    EXPECT_TRUE(fw::BinaryStream::Open(fw::FolderItem(temp.Path("absent"))).IsNil());
}
