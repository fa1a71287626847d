// Faults that a careful user would hit, each shown by the smallest file that
// has it, through the public interface: a file that loses pages on the way,
// pages deep in the page tree, an output that loses its permissions, and
// inputs that are no regular file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "document.h"
#include "inkveil.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::file_exists;
using pdftest::free_path;
using pdftest::read_file;



size_t page_count(const std::string &path) {
    Doc doc;
    const size_t n = doc_load(path.c_str(), doc) == 0 ? doc.pages.size() : 0;
    doc_free(doc);
    return n;
}

mode_t mode_of(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

const char kPage[] = "BT /F1 12 Tf 72 700 Td (the secret plan) Tj ET";

// Catalog 1, one page 3 under node 2, font 4, content 5.
PdfBuilder one_page(const std::string &catalog) {
    PdfBuilder pdf;
    pdf.obj(1, catalog)
        .obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 "
                "4 0 R >> >> /Contents 5 0 R >>")
        .obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .stream(5, "", kPage);
    return pdf;
}

TEST(RobustPages, CatalogKeysAfterItsClosingBracketsAreNotRead) {
    // "/Pages" after the catalog's ">>" is no part of it: the loader finds no
    // pages, as every reader of the output would, instead of a success that
    // writes a file with none.
    PdfBuilder pdf = one_page("<< /Type /Catalog >> /Pages 2 0 R");
    pdf.xref_table("/Root 1 0 R");
    const TempFile input = pdf.file();
    const std::string no_pages = "PDF has no pages: " + input.path;
    EXPECT_EQ(inkveil_count_matches(input.c_str(), "secret"), -1);
    EXPECT_EQ(inkveil_last_error(), no_pages);
    const TempFile output = free_path();
    EXPECT_EQ(inkveil_text(input.c_str(), output.c_str(), "secret", 0, 0, 0), 0);
    EXPECT_EQ(inkveil_last_error(), no_pages);
    EXPECT_FALSE(file_exists(output.path));
}

TEST(RobustPages, APageSeventyLevelsDeepIsCountedAndRedacted) {
    PdfBuilder pdf;
    constexpr int kDepth = 70;
    pdftest::page_chain(pdf, kDepth);
    pdf.obj(3, "<< /Type /Page /Parent 169 0 R /MediaBox [0 0 612 792] /Resources << /Font << "
               "/F1 4 0 R >> >> /Contents 5 0 R >>")
        .obj(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .stream(5, "", kPage)
        .xref_table("/Root 1 0 R");
    const TempFile input = pdf.file();
    EXPECT_EQ(inkveil_count_matches(input.c_str(), "secret"), 1) << inkveil_last_error();
    const TempFile output = free_path();
    ASSERT_EQ(inkveil_text(input.c_str(), output.c_str(), "secret", 0, 0, 0), 1)
        << inkveil_last_error();
    EXPECT_EQ(page_count(output.path), 1u);
    EXPECT_EQ(inkveil_count_matches(output.c_str(), "secret"), 0);
    ASSERT_EQ(inkveil_region(input.c_str(), output.c_str(), 1, 0, 0, 612, 792, 0, 0, 0), 1)
        << inkveil_last_error();
    EXPECT_EQ(read_file(output.path).find("secret"), std::string::npos);
}

// ---- The output file ------------------------------------------------------------------

TEST(RobustOutput, AReplacedOutputKeepsItsModeAndANewOneTheDefault) {
    PdfBuilder pdf = one_page("<< /Type /Catalog /Pages 2 0 R >>");
    pdf.xref_table("/Root 1 0 R");
    const std::string bytes = pdf.bytes();
    const mode_t mask = umask(022);
    umask(mask);

    // Written beside the input, over an older output, and in place.
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0400}}) {
        SCOPED_TRACE(mode);
        TempFile input(bytes);
        TempFile output("an older output");
        ASSERT_EQ(chmod(output.c_str(), mode), 0);
        ASSERT_EQ(inkveil_text(input.c_str(), output.c_str(), "secret", 0, 0, 0), 1)
            << inkveil_last_error();
        EXPECT_EQ(mode_of(output.path), mode);
        EXPECT_EQ(page_count(output.path), 1u);

        ASSERT_EQ(chmod(input.c_str(), mode), 0);
        ASSERT_EQ(inkveil_region(input.c_str(), input.c_str(), 1, 0, 0, 612, 792, 0, 0, 0), 1)
            << inkveil_last_error();
        EXPECT_EQ(mode_of(input.path), mode);
        EXPECT_EQ(read_file(input.path).find("secret"), std::string::npos);
    }

    TempFile input(bytes);
    const TempFile fresh = free_path();
    ASSERT_EQ(inkveil_text(input.c_str(), fresh.c_str(), "secret", 0, 0, 0), 1);
    EXPECT_EQ(mode_of(fresh.path), 0666 & ~mask);
}

TEST(RobustOutput, AReplacedOutputKeepsItsOwnerWherePermitted) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    PdfBuilder pdf = one_page("<< /Type /Catalog /Pages 2 0 R >>");
    pdf.xref_table("/Root 1 0 R");
    const TempFile input = pdf.file();
    TempFile output("an older output");
    ASSERT_EQ(chown(output.c_str(), 4321, 8765), 0);
    ASSERT_EQ(inkveil_text(input.c_str(), output.c_str(), "secret", 0, 0, 0), 1);
    struct stat st {};
    ASSERT_EQ(stat(output.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
}

// ---- Inputs that are no file to read ---------------------------------------------------

TEST(RobustInput, WhatIsNoRegularFileIsRefusedWithoutBlocking) {
    const std::string fifo = std::filesystem::temp_directory_path() /
                             ("inkveil-robust-fifo-" + std::to_string(getpid()));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const TempFile output = free_path();
    for (const std::string &path : {fifo, std::string("/dev/zero"), std::string("/tmp")}) {
        SCOPED_TRACE(path);
        const std::string message = "not a regular file: " + path;
        EXPECT_EQ(inkveil_count_matches(path.c_str(), "x"), -1);
        EXPECT_EQ(inkveil_last_error(), message);
        EXPECT_EQ(inkveil_text(path.c_str(), output.c_str(), "x", 0, 0, 0), 0);
        EXPECT_EQ(inkveil_last_error(), message);
        EXPECT_FALSE(file_exists(output.path));
    }
    std::remove(fifo.c_str());
}

}  // namespace
