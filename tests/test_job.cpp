// Jobs through the public interface: many search texts and rectangles in one
// run, the account of what it removed, dry runs, every refusal with its
// message, and many redactions on several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "inkveil.h"
#include "pdf_builder.h"

namespace {

using pdftest::PdfBuilder;
using pdftest::TempFile;
using pdftest::read_file;

// Two pages of 12-point Helvetica: "Jane" three times (twice on page 1),
// "4929" once on page 2.
std::string two_pages() {
    const std::string font =
        "/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";
    PdfBuilder pdf;
    pdf.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>")
        .obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R " + font + " >>")
        .obj(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R " + font + " >>")
        .stream(5, "",
                "BT /F1 12 Tf 72 700 Td (Jane Example owes 42 dollars) Tj ET\n"
                "BT /F1 12 Tf 72 600 Td (Call Jane at noon) Tj ET\n")
        .stream(6, "", "BT /F1 12 Tf 72 700 Td (Account 4929 closed, ask jane) Tj ET\n", true)
        .xref_table("/Root 1 0 R");
    return pdf.bytes();
}

struct JobDeleter {
    void operator()(inkveil_job *job) const { inkveil_job_free(job); }
};
using Job = std::unique_ptr<inkveil_job, JobDeleter>;

Job new_job(const std::string &input, const char *output) {
    Job job(inkveil_job_new());
    EXPECT_NE(job, nullptr);
    EXPECT_EQ(inkveil_job_set_input(job.get(), input.c_str()), 1);
    EXPECT_EQ(inkveil_job_set_output(job.get(), output), 1);
    return job;
}

struct Box {
    int page;
    double bounds[4];
    int cause;
};

std::vector<Box> boxes_of(const inkveil_job *job) {
    std::vector<Box> boxes(static_cast<size_t>(std::max(inkveil_job_box_count(job), 0)));
    for (size_t i = 0; i < boxes.size(); ++i)
        EXPECT_EQ(inkveil_job_box(job, static_cast<int>(i), &boxes[i].page, boxes[i].bounds,
                                  &boxes[i].cause),
                  1);
    return boxes;
}

// Output paths beside the input, removed at the end.
struct Outputs {
    std::vector<std::string> paths;
    std::string make(const TempFile &input, const std::string &suffix) {
        paths.push_back(input.path + suffix);
        return paths.back();
    }
    ~Outputs() {
        for (const std::string &p : paths) std::remove(p.c_str());
    }
};

TEST(Job, TermsAndRegionsInOneRunWithTheirAccount) {
    const TempFile input(two_pages());
    Outputs outputs;
    const std::string out = outputs.make(input, ".job.pdf");
    Job job = new_job(input.path, out.c_str());
    EXPECT_EQ(inkveil_job_add_text(job.get(), "jane"), 0);
    EXPECT_EQ(inkveil_job_add_text(job.get(), "4929"), 1);
    EXPECT_EQ(inkveil_job_add_text(job.get(), "absent"), 2);
    const inkveil_rect regions[2] = {{1, 300, 100, 50, 20}, {2, 10, 10, 30, 40}};
    EXPECT_EQ(inkveil_job_add_regions(job.get(), regions, 2), 0);
    EXPECT_EQ(inkveil_job_set_color(job.get(), 255, 0, 0), 1);
    EXPECT_EQ(inkveil_job_term_count(job.get()), 3);

    ASSERT_EQ(inkveil_job_run(job.get()), 1) << inkveil_last_error();
    EXPECT_STREQ(inkveil_last_error(), "");
    EXPECT_STREQ(inkveil_job_error(job.get()), "");
    EXPECT_EQ(inkveil_job_matches(job.get(), 0), 3);
    EXPECT_EQ(inkveil_job_matches(job.get(), 1), 1);
    EXPECT_EQ(inkveil_job_matches(job.get(), 2), 0);
    for (const char *term : {"jane", "4929"})
        EXPECT_EQ(inkveil_count_matches(out.c_str(), term), 0) << term;
    EXPECT_EQ(inkveil_count_matches(out.c_str(), "Example"), 1);

    // One box per occurrence and one per rectangle; the rectangles exactly as
    // given, the words on their lines.
    int per_cause[5] = {};  // regions -2, -1, then terms 0, 1, 2
    std::vector<std::pair<int, int>> jane_lines;  // page, baseline
    for (const Box &b : boxes_of(job.get())) {
        ASSERT_GE(b.cause, -2);
        ASSERT_LE(b.cause, 2);
        ++per_cause[b.cause + 2];
        EXPECT_LT(b.bounds[0], b.bounds[2]);
        EXPECT_LT(b.bounds[1], b.bounds[3]);
        if (b.cause < 0) {
            const inkveil_rect &r = regions[-1 - b.cause];
            EXPECT_EQ(b.page, static_cast<int>(r.page));
            EXPECT_DOUBLE_EQ(b.bounds[0], r.x);
            EXPECT_DOUBLE_EQ(b.bounds[1], r.y);
            EXPECT_DOUBLE_EQ(b.bounds[2], r.x + r.width);
            EXPECT_DOUBLE_EQ(b.bounds[3], r.y + r.height);
        } else if (b.cause == 1) {
            EXPECT_EQ(b.page, 2);
            EXPECT_GT(b.bounds[0], 72 + 30);  // after "Account "
            EXPECT_LT(b.bounds[1], 700);
            EXPECT_GT(b.bounds[3], 700 + 6);
        } else {
            const int baseline = b.bounds[1] < 650 ? 600 : 700;
            EXPECT_LT(b.bounds[1], baseline);
            EXPECT_GT(b.bounds[3], baseline + 6);
            jane_lines.push_back({b.page, baseline});
        }
    }
    EXPECT_EQ(per_cause[0], 1);
    EXPECT_EQ(per_cause[1], 1);
    EXPECT_EQ(per_cause[2], 3);
    EXPECT_EQ(per_cause[3], 1);
    EXPECT_EQ(per_cause[4], 0);
    std::sort(jane_lines.begin(), jane_lines.end());
    EXPECT_EQ(jane_lines, (std::vector<std::pair<int, int>>{{1, 600}, {1, 700}, {2, 700}}));
}

// A job of one search text writes what inkveil_text writes, and a dry run
// counts what inkveil_count_matches counts, writing nothing.
TEST(Job, OneTermIsTheTextRedactionAndADryRunWritesNothing) {
    const TempFile input(two_pages());
    Outputs outputs;
    const std::string by_text = outputs.make(input, ".text.pdf");
    const std::string by_job = outputs.make(input, ".job.pdf");
    ASSERT_EQ(inkveil_text(input.c_str(), by_text.c_str(), "JANE", 9, 99, 199), 1);
    Job job = new_job(input.path, by_job.c_str());
    inkveil_job_add_text(job.get(), "JANE");
    inkveil_job_set_color(job.get(), 9, 99, 199);
    ASSERT_EQ(inkveil_job_run(job.get()), 1) << inkveil_last_error();
    EXPECT_EQ(read_file(by_job), read_file(by_text));

    const std::string dry = outputs.make(input, ".dry.pdf");
    Job find = new_job(input.path, nullptr);
    for (const char *term : {"jane", "dollars", "4929", "nowhere"}) inkveil_job_add_text(find.get(), term);
    ASSERT_EQ(inkveil_job_run(find.get()), 1) << inkveil_last_error();
    for (int t = 0; t < 4; ++t) {
        const char *term = t == 0 ? "jane" : t == 1 ? "dollars" : t == 2 ? "4929" : "nowhere";
        EXPECT_EQ(inkveil_job_matches(find.get(), t), inkveil_count_matches(input.c_str(), term));
    }
    EXPECT_EQ(inkveil_job_box_count(find.get()), 5);
    EXPECT_FALSE(std::filesystem::exists(dry));
}

TEST(Job, RefusalsAndTheirMessages) {
    const TempFile input(two_pages());
    Outputs outputs;
    const std::string out = outputs.make(input, ".out.pdf");
    const std::string missing = input.path + ".missing.pdf";
    const inkveil_rect bad_page[2] = {{1, 0, 0, 5, 5}, {3, 0, 0, 5, 5}};
    const inkveil_rect flat[1] = {{1, 0, 0, 5, 0}};
    struct Case {
        const char *name;
        void (*setup)(inkveil_job *, const std::string &, const inkveil_rect *, const inkveil_rect *);
        std::string message;
    };
    const Case cases[] = {
        {"nothing to do", [](inkveil_job *, const std::string &, const inkveil_rect *, const inkveil_rect *) {},
         "the job has no search text and no region"},
        {"an empty search text",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             EXPECT_EQ(inkveil_job_add_text(j, "jane"), 0);
             EXPECT_EQ(inkveil_job_add_text(j, ""), -1);
             EXPECT_EQ(inkveil_job_add_text(j, "4929"), 1);
         },
         "search_text cannot be empty"},
        {"a NULL search text",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             EXPECT_EQ(inkveil_job_add_text(j, nullptr), -1);
         },
         "search_text cannot be empty"},
        {"nothing searchable", // a zero-width space only
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             EXPECT_EQ(inkveil_job_add_text(j, "\xE2\x80\x8B"), 0);
         },
         "search_text cannot be empty"},
        {"NULL regions",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             EXPECT_EQ(inkveil_job_add_regions(j, nullptr, 2), -1);
         },
         "NULL regions pointer with count > 0"},
        {"no regions",
         [](inkveil_job *j, const std::string &, const inkveil_rect *r, const inkveil_rect *) {
             EXPECT_EQ(inkveil_job_add_regions(j, r, 0), -1);
         },
         "region_count must be > 0 (got 0)"},
        {"a page the document lacks, named by its index in the job",
         [](inkveil_job *j, const std::string &, const inkveil_rect *r, const inkveil_rect *) {
             inkveil_job_add_text(j, "jane");
             EXPECT_EQ(inkveil_job_add_regions(j, r, 1), 0);
             EXPECT_EQ(inkveil_job_add_regions(j, r, 2), 1);
         },
         "page 3 in regions[2] is out of range (document has 2 pages)"},
        {"a flat rectangle",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *f) {
             EXPECT_EQ(inkveil_job_add_regions(j, f, 1), 0);
         },
         "region 0 has invalid non-positive dimensions: 5.00x0.00"},
        {"no input",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             inkveil_job_set_input(j, nullptr);
             inkveil_job_add_text(j, "jane");
         },
         "NULL path argument"},
        {"a missing input",
         [](inkveil_job *j, const std::string &m, const inkveil_rect *, const inkveil_rect *) {
             inkveil_job_set_input(j, m.c_str());
             inkveil_job_add_text(j, "jane");
         },
         "cannot open " + missing + ": No such file or directory"},
        {"text the output's own syntax holds",
         [](inkveil_job *j, const std::string &, const inkveil_rect *, const inkveil_rect *) {
             inkveil_job_add_text(j, "jane");
             inkveil_job_add_text(j, "obj");
         },
         "redaction incomplete: the search text still appears in the output file — no output "
         "written"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Job job = new_job(input.path, out.c_str());
        c.setup(job.get(), missing, bad_page, flat);
        EXPECT_EQ(inkveil_job_run(job.get()), 0);
        EXPECT_EQ(inkveil_last_error(), c.message);
        EXPECT_EQ(inkveil_job_error(job.get()), c.message);
        // Another thread of work in between leaves the job's own message.
        EXPECT_EQ(inkveil_count_matches(missing.c_str(), "x"), -1);
        EXPECT_EQ(inkveil_job_error(job.get()), c.message);
        // No results after a failure.
        EXPECT_EQ(inkveil_job_box_count(job.get()), -1);
        EXPECT_STREQ(inkveil_last_error(), "the job has no results: it has not run successfully");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(Job, NullHandlesAndIndicesOutOfRange) {
    inkveil_rect r = {1, 0, 0, 1, 1};
    double bounds[4];
    const auto null_job = [](const char *what) {
        EXPECT_STREQ(inkveil_last_error(), "NULL job handle") << what;
    };
    inkveil_job_free(nullptr);
    EXPECT_EQ(inkveil_job_set_input(nullptr, "in.pdf"), 0);
    null_job("set_input");
    EXPECT_EQ(inkveil_job_set_output(nullptr, "out.pdf"), 0);
    null_job("set_output");
    EXPECT_EQ(inkveil_job_add_text(nullptr, "x"), -1);
    null_job("add_text");
    EXPECT_EQ(inkveil_job_add_regions(nullptr, &r, 1), -1);
    null_job("add_regions");
    EXPECT_EQ(inkveil_job_set_color(nullptr, 1, 2, 3), 0);
    null_job("set_color");
    EXPECT_EQ(inkveil_job_run(nullptr), 0);
    null_job("run");
    EXPECT_EQ(inkveil_job_term_count(nullptr), -1);
    null_job("term_count");
    EXPECT_EQ(inkveil_job_matches(nullptr, 0), -1);
    null_job("matches");
    EXPECT_EQ(inkveil_job_box_count(nullptr), -1);
    null_job("box_count");
    EXPECT_EQ(inkveil_job_box(nullptr, 0, nullptr, bounds, nullptr), 0);
    null_job("box");
    EXPECT_STREQ(inkveil_job_error(nullptr), "NULL job handle");

    const TempFile input(two_pages());
    Job job = new_job(input.path, nullptr);
    inkveil_job_add_text(job.get(), "jane");
    EXPECT_EQ(inkveil_job_matches(job.get(), 0), -1);
    EXPECT_STREQ(inkveil_last_error(), "the job has no results: it has not run successfully");
    ASSERT_EQ(inkveil_job_run(job.get()), 1);
    for (const int term : {-1, 1, 1 << 30}) {
        EXPECT_EQ(inkveil_job_matches(job.get(), term), -1);
        EXPECT_EQ(inkveil_last_error(), "term index " + std::to_string(term) +
                                            " is out of range (the job has 1 search texts)");
    }
    for (const int index : {-1, 3}) {
        EXPECT_EQ(inkveil_job_box(job.get(), index, nullptr, bounds, nullptr), 0);
        EXPECT_EQ(inkveil_last_error(), "box index " + std::to_string(index) +
                                            " is out of range (the job painted 3 boxes)");
    }
    // A successful getter leaves the last message; NULL out-pointers are skipped.
    EXPECT_EQ(inkveil_job_box(job.get(), 2, nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(inkveil_last_error(), "box index 3 is out of range (the job painted 3 boxes)");
    // A change discards the results; the next run makes new ones.
    inkveil_job_add_text(job.get(), "4929");
    EXPECT_EQ(inkveil_job_box_count(job.get()), -1);
    ASSERT_EQ(inkveil_job_run(job.get()), 1);
    EXPECT_EQ(inkveil_job_matches(job.get(), 1), 1);
    EXPECT_EQ(inkveil_job_box_count(job.get()), 4);
}

// A hundred thousand search texts in one job: found and counted in one pass
// (the test time limit catches a return to one scan per term).
TEST(Job, AHundredThousandTerms) {
    const TempFile input(two_pages());
    Outputs outputs;
    const std::string out = outputs.make(input, ".many.pdf");
    Job job = new_job(input.path, out.c_str());
    constexpr int kTerms = 100000;
    for (int t = 0; t < kTerms; ++t) {
        const std::string term = t == 500 ? "jane" : t == 99999 ? "4929" : "name " + std::to_string(t * 7919);
        ASSERT_EQ(inkveil_job_add_text(job.get(), term.c_str()), t);
    }
    ASSERT_EQ(inkveil_job_run(job.get()), 1) << inkveil_last_error();
    EXPECT_EQ(inkveil_job_matches(job.get(), 500), 3);
    EXPECT_EQ(inkveil_job_matches(job.get(), 99999), 1);
    EXPECT_EQ(inkveil_job_matches(job.get(), 0), 0);
    EXPECT_EQ(inkveil_job_box_count(job.get()), 4);
    EXPECT_EQ(inkveil_count_matches(out.c_str(), "jane"), 0);
}

// Several threads redact at once, each through the seven functions and a
// job, and each sees its own results and its own messages.
TEST(Threads, ManyRedactionsAtOnceEachSeeItsOwnResultsAndMessages) {
    const TempFile input(two_pages());
    const std::string expected_text = [&] {
        const std::string out = input.path + ".reference.pdf";
        EXPECT_EQ(inkveil_text(input.c_str(), out.c_str(), "jane", 0, 0, 0), 1);
        const std::string bytes = read_file(out);
        std::remove(out.c_str());
        return bytes;
    }();
    constexpr int kThreads = 4, kRounds = 6;
    std::vector<std::string> problems(kThreads);
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, k] {
            std::string &trouble = problems[static_cast<size_t>(k)];
            const std::string mine = input.path + ".thread" + std::to_string(k);
            const std::string missing = mine + ".missing.pdf";
            for (int round = 0; round < kRounds; ++round) {
                const std::string out = mine + ".pdf";
                if (inkveil_text(input.c_str(), out.c_str(), "jane", 0, 0, 0) != 1 ||
                    std::string(inkveil_last_error()) != "" || read_file(out) != expected_text)
                    trouble += "text: " + std::string(inkveil_last_error()) + "\n";
                std::remove(out.c_str());
                if (inkveil_count_matches(missing.c_str(), "jane") != -1 ||
                    std::string(inkveil_last_error()) !=
                        "cannot open " + missing + ": No such file or directory")
                    trouble += "count: " + std::string(inkveil_last_error()) + "\n";
                const inkveil_rect region = {static_cast<float>(1 + (k + round) % 3), 0, 0, 9, 9};
                const int regions_ok = inkveil_regions(input.c_str(), out.c_str(), &region, 1, 0, 0, 0);
                const std::string region_error = inkveil_last_error();
                if ((regions_ok == 1) != (region.page < 3) ||
                    region_error != (regions_ok ? "" : "page 3 in regions[0] is out of range (document has 2 pages)"))
                    trouble += "regions: " + region_error + "\n";
                std::remove(out.c_str());
                Job job(inkveil_job_new());
                inkveil_job_set_input(job.get(), input.c_str());
                inkveil_job_add_text(job.get(), k % 2 ? "4929" : "jane");
                if (inkveil_job_run(job.get()) != 1 || inkveil_job_matches(job.get(), 0) != (k % 2 ? 1 : 3))
                    trouble += "job: " + std::string(inkveil_job_error(job.get())) + "\n";
            }
        });
    }
    for (std::thread &t : threads) t.join();
    for (int k = 0; k < kThreads; ++k) EXPECT_EQ(problems[static_cast<size_t>(k)], "") << "thread " << k;
}

}  // namespace
