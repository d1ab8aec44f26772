#include "report/observation_sinks.h"

#include "report/brightness.h"
#include "report/html_report.h"
#include "report/tables.h"

namespace serflash::report {
namespace {

// The base name as the results folder holds it (cut as the summary's name is).
std::string base_of_folder(const std::string& result_dir, const std::string& path) {
    const std::string base = detect::base_name_of(path);
    const std::string prefix = detect::results_folder_name("");
    const std::size_t slash = result_dir.find_last_of('/');
    const std::string folder = slash == std::string::npos ? result_dir : result_dir.substr(slash + 1);
    if (folder.rfind(prefix, 0) == 0 && base.rfind(folder.substr(prefix.size()), 0) == 0)
        return folder.substr(prefix.size());
    return base;
}

class observation_sink final : public detect::result_sink {
public:
    observation_sink(observation_options options, detect::scan_job job, std::string result_dir, ser::ser_reader& reader,
                     detect::core_budget cores)
        : options_(std::move(options)),
          job_(std::move(job)),
          result_dir_(std::move(result_dir)),
          reader_(reader),
          cores_(cores) {}

    void frame_saved(const detect::saved_frame& frame) override { records_.frames.push_back(frame); }
    void frame_scattered(const detect::scattered_frame& frame) override { records_.scattered.push_back(frame); }
    void pass_ended(const detect::pass_report& pass) override { records_.passes.push_back(pass); }
    void scan_finished(std::int32_t, std::int32_t) override {
        platform::file_system& fs = options_.fs != nullptr ? *options_.fs : platform::native_file_system();
        observation o = observe(reader_, job_, result_dir_, records_, {}, options_.moon);
        if (options_.zero_point) measure_brightness(reader_, o, *options_.zero_point, options_.moon.site);
        const std::string base = base_of_folder(result_dir_, job_.path);
        std::string problem;
        const auto write = [&](const std::string& path, const std::string& text) {
            if (const platform::status put = platform::write_whole_file(fs, path, text); !put && problem.empty())
                problem = path + " could not be written (" + put.reason() + ")";
        };
        write(candidates_csv_path(result_dir_, base), candidates_csv(o));
        write(candidates_json_path(result_dir_, base), candidates_json(o));
        write(report_html_path(result_dir_, base), report_html(o, {}, cores_));
        tell(o, problem);
        problem_ = problem;
    }
    std::string failure() const override { return problem_; }

private:
    void tell(const observation& o, const std::string& problem) {
        if (options_.observed) options_.observed(o, problem);
    }

    observation_options options_;
    detect::scan_job job_;
    std::string result_dir_;
    ser::ser_reader& reader_;   // the scan's own, open until the sink is dropped
    detect::core_budget cores_; // the file's share of the batch's cores
    scan_records records_;
    std::string problem_;
};

} // namespace

std::string candidates_csv_path(const std::string& result_dir, const std::string& base_name) {
    return result_dir + "/" + base_name + "_candidates.csv";
}
std::string candidates_json_path(const std::string& result_dir, const std::string& base_name) {
    return result_dir + "/" + base_name + "_candidates.json";
}
std::string report_html_path(const std::string& result_dir, const std::string& base_name) {
    return result_dir + "/" + base_name + "_report.html";
}

detect::sink_factory observation_sinks(const observation_options& options) {
    return [options](const detect::scan_job& job, const std::string& result_dir, ser::ser_reader& reader,
                     const detect::core_budget& cores) {
        std::vector<std::unique_ptr<detect::result_sink>> sinks;
        sinks.push_back(std::make_unique<observation_sink>(options, job, result_dir, reader, cores));
        return sinks;
    };
}

} // namespace serflash::report
