#include "report/catalog.h"

#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace serflash::report {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

struct spot {
    int x, y;
    const char* cls;
};

class CatalogTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("serflash-catalog-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // A results folder of `name`.ser taken with `camera` (null: a document without a header).
    void folder(const std::string& name, const char* camera, const std::vector<spot>& spots) {
        const fs::path dir = root_ / ("Results_" + name);
        fs::create_directories(dir);
        json candidates = json::array();
        int k = 0;
        for (const spot& s : spots)
            candidates.push_back(
                {{"candidate", ++k}, {"x", s.x}, {"y", s.y}, {"peak_frame", 10 * k}, {"class", s.cls}});
        json file = {{"name", name + ".ser"}};
        if (camera != nullptr)
            file["header"] = {{"Instrument", camera}, {"ImageWidth", 64}, {"ImageHeight", 48}, {"ColorID", 0}};
        const json doc = {{"format", "serflash-candidates"},
                          {"version", 2},
                          {"file", file},
                          {"times", {{"first_utc", "2026-12-10T21:00:00.000"}}},
                          {"candidates", candidates}};
        std::ofstream(dir / (name + "_candidates.json")) << doc.dump(2);
    }

    // The class and same-pixel count of each row, by file and place.
    std::map<std::tuple<std::string, int, int>, std::pair<std::string, std::size_t>> rows() {
        const catalog c = build_catalog(platform::native_file_system(), {root_.string()});
        EXPECT_TRUE(c.skipped.empty());
        const auto at = [&](const char* name) {
            return static_cast<std::size_t>(std::find(c.columns.begin(), c.columns.end(), name) - c.columns.begin());
        };
        EXPECT_EQ(c.columns.back(), "report");
        EXPECT_EQ(c.columns[c.columns.size() - 2], "same_pixel_files");
        std::map<std::tuple<std::string, int, int>, std::pair<std::string, std::size_t>> out;
        for (const catalog_row& r : c.rows)
            out[{r.values[at("file")].get<std::string>(), r.values[at("x")].get<int>(), r.values[at("y")].get<int>()}] =
                {r.values[at("class")].get<std::string>(), r.values[at("same_pixel_files")].get<std::size_t>()};
        return out;
    }

    fs::path root_;
};

TEST_F(CatalogTest, APointAtThePixelOfAnotherFileOfTheSameCameraIsAHotPixel) {
    folder("a", "cam", {{10, 20, "flash"}, {30, 30, "cosmic_ray"}, {5, 5, "star"}, {50, 40, "moving"}});
    folder("b", "cam", {{10, 20, "cosmic_ray"}, {5, 5, "star"}, {40, 40, "flash"}, {50, 40, "moving"}});
    folder("c", "other camera", {{10, 20, "flash"}, {30, 30, "flash"}});
    folder("d", nullptr, {{40, 40, "flash"}});
    folder("e", nullptr, {{40, 40, "flash"}});
    // The same file scanned twice: one file, its flash no hot pixel.
    folder("f", "cam", {{20, 10, "flash"}});
    fs::copy(root_ / "Results_f", root_ / "Results_f-2", fs::copy_options::recursive);
    const auto r = rows();
    using cell = std::pair<std::string, std::size_t>;
    // Both of one camera's point-like candidates at (10, 20) are the same hot pixel.
    EXPECT_EQ(r.at({"a.ser", 10, 20}), cell("hot_pixel", 2));
    EXPECT_EQ(r.at({"b.ser", 10, 20}), cell("hot_pixel", 2));
    // Another camera's sensor has its own pixels.
    EXPECT_EQ(r.at({"c.ser", 10, 20}), cell("flash", 1));
    EXPECT_EQ(r.at({"c.ser", 30, 30}), cell("flash", 1));
    EXPECT_EQ(r.at({"a.ser", 30, 30}), cell("cosmic_ray", 1));
    EXPECT_EQ(r.at({"b.ser", 40, 40}), cell("flash", 1));
    // A star comes back to its pixel while the image stands still: counted, but still a star;
    // a track does not stand on one pixel.
    EXPECT_EQ(r.at({"a.ser", 5, 5}), cell("star", 2));
    EXPECT_EQ(r.at({"b.ser", 50, 40}), cell("moving", 1));
    // Files whose header is unknown are not taken for one camera.
    EXPECT_EQ(r.at({"d.ser", 40, 40}), cell("flash", 1));
    EXPECT_EQ(r.at({"e.ser", 40, 40}), cell("flash", 1));
    EXPECT_EQ(r.at({"f.ser", 20, 10}), cell("flash", 1));
}

} // namespace
} // namespace serflash::report
