#include "report/html_report.h"

#include "detect/format.h"
#include "detect/work_pool.h"
#include "report/csv.h"
#include "report/moon_picture.h"
#include "report/png_image.h"
#include "report/tables.h"
#include "ser/text_cp932.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace serflash::report {
namespace {

constexpr int strip_gap = 4; // pixels between the cut-outs of a strip

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t b0 = bytes[i];
        const std::uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0U;
        const std::uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0U;
        const std::uint32_t v = b0 << 16 | b1 << 8 | b2;
        out += digits[v >> 18 & 63U];
        out += digits[v >> 12 & 63U];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63U] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63U] : '=';
    }
    return out;
}

std::string number(double v, int decimals) {
    const std::string s = fixed_decimals(v, decimals);
    return s.empty() ? "n/a" : s;
}

template <std::size_t N>
std::string field_text(const std::array<char, N>& field) {
    const auto nul = std::find(field.begin(), field.end(), '\0');
    return ser::cp932_to_printable_utf8(std::string_view(field.data(), static_cast<std::size_t>(nul - field.begin())));
}

// A header time: its ticks, and the calendar time when it is one.
std::string header_time(std::int64_t ticks, bool utc) {
    std::string text = std::to_string(ticks);
    if (ticks <= 0 || ticks >= ser::ticks_of(10000, 1, 1, 0, 0, 0)) return text;
    std::string when = ser::format_utc(ticks);
    if (!utc) when = when.substr(0, when.size() - 1) + ", local time"; // no "Z"
    return text + " (" + when + ")";
}

std::string row(const std::string& name, const std::string& value) {
    return "<tr><th>" + html_escape(name) + "</th><td>" + html_escape(value) + "</td></tr>\n";
}

std::string pass_line(const detect::pass_report& p) {
    const std::int32_t last = last_frame_examined(p);
    std::string why;
    switch (p.end) {
        case detect::pass_end::end_of_range:
            why = "it reached the stop frame";
            break;
        case detect::pass_end::max_det_frames:
            why = "the frames with detections reached the limit at frame " + std::to_string(p.frame_reached);
            break;
        case detect::pass_end::scattered:
            why = "it was held at frame " + std::to_string(p.frame_reached) +
                  ", a frame passed over for its scattered points (" + std::to_string(p.frames_not_examined) +
                  " frames before the stop frame not examined)";
            break;
        case detect::pass_end::stopped:
            why = "the scan was stopped";
            break;
        case detect::pass_end::failed:
            why = "the statistics of a packet could not be computed";
            break;
    }
    std::string text = std::string(p.complete ? "Every frame examined at threshold " : "Threshold ") +
                       std::to_string(p.threshold) + " (" + number(p.threshold / 10.0, 1) + " sigma): frames " +
                       std::to_string(p.first_frame) + " to " + std::to_string(last) + " examined; it ended because " +
                       why + "; " + std::to_string(p.saved_frames) + " frames with detections, " +
                       std::to_string(p.detections) + " detections";
    if (p.raised) text += "; too many, so the threshold was raised and the file scanned again";
    return text + ".";
}

std::string light_curve_svg(const observation& o, const measured_candidate& m) {
    constexpr double w = 640, h = 240, left = 60, right = 40, top = 10, bottom = 50;
    const auto& e = m.curve.excess;
    const double sigma = std::isfinite(m.curve.sigma) ? m.curve.sigma : 0.0;
    double lo = -sigma, hi = sigma;
    for (const double v : e) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (hi - lo <= 0.0) hi = lo + 1.0;
    const double pad = (hi - lo) * 0.05;
    lo -= pad;
    hi += pad;
    const std::size_t n = std::max<std::size_t>(e.size(), 2);
    const auto px = [&](std::size_t i) {
        return left + (w - left - right) * static_cast<double>(i) / static_cast<double>(n - 1);
    };
    const auto py = [&](double v) { return top + (h - top - bottom) * (hi - v) / (hi - lo); };
    const auto f2 = [](double v) { return number(v, 1); };
    std::string s =
        "<svg class=\"light-curve\" xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"240\" "
        "viewBox=\"0 0 640 240\">\n";
    s += "<rect x=\"" + f2(left) + "\" y=\"" + f2(py(sigma)) + "\" width=\"" + f2(w - left - right) + "\" height=\"" +
         f2(py(-sigma) - py(sigma)) + "\" fill=\"#dde8f5\"><title>packet 1-sigma band: " + number(sigma, 1) +
         "</title></rect>\n";
    s += "<line x1=\"" + f2(left) + "\" y1=\"" + f2(py(0)) + "\" x2=\"" + f2(w - right) + "\" y2=\"" + f2(py(0)) +
         "\" stroke=\"#888\"/>\n";
    std::string points;
    for (std::size_t i = 0; i < e.size(); ++i) points += f2(px(i)) + "," + f2(py(e[i])) + " ";
    s += "<polyline fill=\"none\" stroke=\"#c0392b\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
    for (std::size_t i = 0; i < e.size(); ++i) {
        const std::int32_t frame = m.curve.first_frame + static_cast<std::int32_t>(i);
        s += "<circle cx=\"" + f2(px(i)) + "\" cy=\"" + f2(py(e[i])) + "\" r=\"" +
             (frame == m.c.peak.frame ? "4" : "2") + "\" fill=\"#c0392b\"><title>frame " + std::to_string(frame) +
             ": " + number(e[i], 1) + "</title></circle>\n";
        if (i % 5 == 0 || frame == m.c.peak.frame) {
            std::string label = std::to_string(frame);
            const std::string utc = o.utc_text(frame);
            s += "<text x=\"" + f2(px(i)) + "\" y=\"" + f2(h - bottom + 14) +
                 "\" font-size=\"10\" text-anchor=\"middle\">" + label + "</text>\n";
            if (!utc.empty() && i % 10 == 0)
                s += "<text x=\"" + f2(px(i)) + "\" y=\"" + f2(h - bottom + 28) +
                     "\" font-size=\"9\" text-anchor=\"middle\">" + html_escape(utc.substr(11, 12)) + "</text>\n";
        }
    }
    for (const double v : {hi - pad, 0.0, lo + pad})
        s += "<text x=\"" + f2(left - 4) + "\" y=\"" + f2(py(v) + 3) + "\" font-size=\"10\" text-anchor=\"end\">" +
             number(v, 0) + "</text>\n";
    s += "<text x=\"" + f2(left) + "\" y=\"" + f2(h - 6) +
         "\" font-size=\"10\">frame (UTC below when known); excess of the 5 x 5 box in counts</text>\n";
    return s + "</svg>\n";
}

} // namespace

// Markup escaped; bytes that are not UTF-8 replaced (U+FFFD), as the page is declared UTF-8, and
// control characters shown as \xNN.
std::string html_escape(std::string_view raw) {
    const std::string text = detect::printable_text(detect::valid_utf8(raw), true);
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

image8 cutout_strip(const measured_candidate& m) {
    constexpr int side = 2 * cutout_half + 1;
    const int cell = side * cutout_zoom;
    const int count = static_cast<int>(m.cutouts.size());
    image8 img;
    img.width = std::max(1, count * cell + (count - 1) * strip_gap);
    img.height = cell;
    img.channels = 1;
    img.pixels.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height), 255);
    const double mean = m.c.peak.det.mean;
    const double sigma = std::isfinite(m.c.peak.det.sigma) ? m.c.peak.det.sigma : 0.0;
    const double black = mean - 3.0 * sigma;
    const double white = std::max(static_cast<double>(m.c.peak.det.sample), mean + 3.0 * sigma + 1.0);
    for (int k = 0; k < count; ++k) {
        const cutout& cut = m.cutouts[static_cast<std::size_t>(k)];
        for (int r = 0; r < side; ++r)
            for (int c = 0; c < side; ++c) {
                const std::int32_t s = cut.samples[static_cast<std::size_t>(r * side + c)];
                std::uint8_t grey = 0;
                if (s >= 0) {
                    const double t = std::clamp((static_cast<double>(s) - black) / (white - black), 0.0, 1.0);
                    grey = static_cast<std::uint8_t>(std::lround(std::sqrt(t) * 255.0));
                }
                for (int dy = 0; dy < cutout_zoom; ++dy)
                    for (int dx = 0; dx < cutout_zoom; ++dx) {
                        const int x = k * (cell + strip_gap) + c * cutout_zoom + dx;
                        const int y = r * cutout_zoom + dy;
                        img.pixels[static_cast<std::size_t>(y * img.width + x)] = grey;
                    }
            }
    }
    return img;
}

std::string degrees(double v) { return number(v, degrees_decimals) + " deg"; }

// The disk, its orientation and the ephemeris, with the picture; nothing when the Moon was not looked for.
std::string moon_section(const observation& o) {
    const moon_observation& m = o.moon;
    if (!m.looked) return {};
    std::string s = "<h2>Moon</h2>\n<table>\n";
    if (m.limb.found) {
        const astro::disk_circle& d = m.limb.disk;
        s += row("Disk", "centre x " + number(d.x, 2) + " +- " + number(d.x_err, 2) + ", y " + number(d.y, 2) + " +- " +
                             number(d.y_err, 2) + ", radius " + number(d.radius, 2) + " +- " + number(d.radius_err, 2) +
                             " pixels") +
             row("Limb fitted", std::to_string(m.limb.points) + " edge points over " + number(m.limb.arc_deg, 0) +
                                    " deg of arc, scatter " + number(m.limb.rms_px, 2) + " pixels");
    } else {
        s += row("Disk", m.limb.why_not);
    }
    s += row("Frames averaged", std::to_string(m.frames_averaged) + " from frame " + std::to_string(m.first_frame));
    s += row("Orientation",
             (m.oriented ? degrees(m.view.orientation_deg) + " +- " + degrees(m.view.orientation_err_deg) +
                               " (celestial north, counterclockwise from up), " + m.orientation_source
                         : "unknown: " + m.orientation_source));
    s += row("Mirror", m.view.mirror ? "yes (the optics flip the image)" : "no");
    if (m.scale_arcsec_per_px > 0) s += row("Image scale", number(m.scale_arcsec_per_px, 4) + " arcsec per pixel");
    s += row("Site", m.site ? "latitude " + degrees(m.site->lat_deg) + ", longitude " + degrees(m.site->lon_deg) +
                                  " (east positive), height " + number(m.site->height_m, 0) + " m"
                            : "not given");
    if (m.ephemeris) {
        const astro::moon_ephemeris& e = *m.ephemeris;
        s += row("Ephemeris at", m.utc_ticks ? ser::format_utc(*m.utc_ticks) : "") +
             row("Semi-diameter",
                 number(e.semidiameter_arcsec, 1) + " arcsec, distance " + number(e.distance_km, 0) + " km") +
             row("Libration",
                 "longitude " + degrees(e.libration_lon_deg) + ", latitude " + degrees(e.libration_lat_deg)) +
             row("Position angles",
                 "axis " + degrees(e.axis_pa_deg) + ", bright limb " + degrees(e.bright_limb_pa_deg)) +
             row("Sun", "colongitude " + degrees(e.sun_colongitude_deg) + ", illuminated fraction " +
                            number(e.illuminated_fraction, 3));
        if (!m.ephemeris_note().empty()) s += row("Note", m.ephemeris_note());
    } else {
        s += row("Ephemeris", "none: the file's frames have no time");
    }
    s += "</table>\n";
    std::vector<astro::image_point> marks;
    for (const measured_candidate& c : o.candidates)
        marks.push_back({static_cast<double>(c.c.peak.det.x), static_cast<double>(c.c.peak.det.y)});
    std::string error;
    const std::vector<std::uint8_t> png = encode_png(moon_picture(m, marks), &error);
    if (!png.empty())
        s +=
            "<p>The averaged frames with the limb fitted (red, its edge points yellow), the selenographic grid every " +
            number(grid_step_deg, 0) +
            " deg (green) and the candidates (blue rings):</p>\n<img alt=\"the Moon\" "
            "src=\"data:image/png;base64," +
            base64(png) + "\">\n";
    return s;
}

// A candidate's place on the Moon, or why it has none.
std::string position_text(const observation& o, const measured_candidate& m) {
    if (!o.moon.looked) return {};
    const candidate_position& p = m.position;
    if (!p.at) return "none: " + p.why_not;
    std::string text = "latitude " + degrees(p.at->at.lat_deg) + ", longitude " + degrees(p.at->at.lon_deg) +
                       " (east positive), +- " + degrees(p.at->err_deg);
    if (!o.moon.ephemeris_note().empty()) text += "; " + o.moon.ephemeris_note();
    return text;
}

std::string report_html(const observation& o, std::string_view extra_section, const detect::core_budget& cores) {
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Flash candidates: " +
                    html_escape(o.name) + "</title>\n";
    s += "<style>body{font-family:sans-serif;margin:1.5em;color:#222}table{border-collapse:collapse;margin:.5em 0}"
         "th,td{border:1px solid #ccc;padding:2px 8px;text-align:left}th{background:#f3f3f3}"
         "img.strip{image-rendering:pixelated;image-rendering:crisp-edges;display:block;margin:.5em 0}"
         "section.candidate{border-top:2px solid #999;margin-top:1.5em}</style>\n</head>\n<body>\n";
    s += "<h1>Flash candidates: " + html_escape(o.name) + "</h1>\n";

    s += "<h2>File</h2>\n<table>\n" + row("Path (from the results folder)", o.path_from_results) +
         row("Size", std::to_string(o.size) + " bytes") + row("Frames present", std::to_string(o.frames_present));
    const ser::ser_header& h = o.header;
    s += row("FileID", field_text(h.FileID)) + row("LuID", std::to_string(h.LuID)) +
         row("ColorID", std::to_string(h.ColorID)) + row("LittleEndian", std::to_string(h.LittleEndian)) +
         row("Image", std::to_string(h.ImageWidth) + " x " + std::to_string(h.ImageHeight) + ", " +
                          std::to_string(h.PixelDepthPerPlane) + " bits") +
         row("FrameCount", std::to_string(h.FrameCount)) + row("Observer", field_text(h.Observer)) +
         row("Instrument", field_text(h.Instrument)) + row("Telescope", field_text(h.Telescope)) +
         row("Datetime", header_time(h.Datetime, false)) + row("DatetimeUTC", header_time(h.DatetimeUTC, true)) +
         "</table>\n";

    s += "<h2>Times</h2>\n<table>\n" + row("Source", ser::time_source_name(o.times.source));
    if (o.times.known()) {
        s += row("First frame", o.utc_text(0)) +
             row("Last frame", o.utc_text(static_cast<std::int32_t>(o.times.utc_ticks.size()) - 1)) +
             row("Frame rate", number(o.times.frame_rate, 3) + " per second") +
             row("Dropped frames (estimated)", std::to_string(o.times.dropped_frames));
    } else {
        s += row("Frame times", "unknown: the file has no time stamps and no frame rate was given");
    }
    for (const std::string& note : o.times.notes) s += row("Note", note);
    s += "</table>\n";

    const detect::scan_settings& c = o.settings;
    s += "<h2>Settings</h2>\n<table>\n" +
         row("Frames", std::to_string(c.start_frame) + " to " + std::to_string(c.end_frame) + ", packets of " +
                           std::to_string(c.packet_size)) +
         row("Threshold", std::to_string(c.threshold) + ", step " + std::to_string(c.threshold_step)) +
         row("Neighbours (T B L R %)", std::to_string(c.pct_top) + " " + std::to_string(c.pct_bottom) + " " +
                                           std::to_string(c.pct_left) + " " + std::to_string(c.pct_right)) +
         row("Max frames with detections", std::to_string(c.max_det_frames)) +
         row("Scatter (rows, columns)", std::to_string(c.scatter_v) + ", " + std::to_string(c.scatter_h) +
                                            (c.continue_after_scatter ? "; passes go on after a scattered frame"
                                                                      : "; a scattered frame holds the pass")) +
         (c.complete ? row("Every frame examined", "after the passes, at " + std::to_string(c.complete_threshold))
                     : std::string()) +
         row("Masks", std::string("red ") + (o.switches.red ? "on" : "off") + " (level " + std::to_string(c.red_level) +
                          ", size " + std::to_string(c.red_mask_half) + "), blue " + (o.switches.blue ? "on" : "off") +
                          " (level " + std::to_string(c.blue_level) + ", size " + std::to_string(c.blue_mask_half) +
                          "), stars " + (o.switches.stars ? "on" : "off") + " (threshold " +
                          std::to_string(c.star_threshold) + ", half width " + std::to_string(c.star_half_width) +
                          ", size " + std::to_string(c.star_mask_half) + ")");
    for (std::size_t k = 0; k < 4; ++k)
        s += row("Manual mask " + std::to_string(k), "(" + std::to_string(detect::point_x(c.mask_ul[k])) + ", " +
                                                         std::to_string(detect::point_y(c.mask_ul[k])) + ") to (" +
                                                         std::to_string(detect::point_x(c.mask_lr[k])) + ", " +
                                                         std::to_string(detect::point_y(c.mask_lr[k])) + ")");
    s += row("Bit shift", std::to_string(o.bit_shift));
    if (o.swap_bytes) s += row("Byte order", "16-bit samples high byte first (--swap-bytes)");
    s += "</table>\n";
    if (!o.byte_order_warning.empty())
        s += "<p class=\"warning\">Warning: " + html_escape(o.byte_order_warning) + ".</p>\n";

    s += "<h2>Coverage</h2>\n<ul class=\"passes\">\n";
    for (const detect::pass_report& p : o.passes) s += "<li>" + html_escape(pass_line(p)) + "</li>\n";
    if (o.passes.empty()) s += "<li>No pass ran.</li>\n";
    s += "</ul>\n";
    if (!o.scattered.empty()) {
        s += "<h2>Frames passed over for scattered points</h2>\n<table>\n<tr><th>Threshold</th><th>Frame</th>"
             "<th>Points</th><th>Rows spanned</th><th>Columns spanned</th></tr>\n";
        for (const detect::scattered_frame& f : o.scattered)
            s += "<tr><td>" + std::to_string(f.threshold) + "</td><td>" + std::to_string(f.frame) + "</td><td>" +
                 std::to_string(f.points) + "</td><td>" + std::to_string(f.row_span) + "</td><td>" +
                 std::to_string(f.col_span) + "</td></tr>\n";
        s += "</table>\n";
    }

    s += moon_section(o);
    s += extra_section;
    s += "<h2>Candidates (" + std::to_string(o.candidates.size()) + ")</h2>\n";
    // Compressing the cut-out strips is most of the page's work: they are made on every core,
    // and the page takes them in order.
    const std::size_t count = o.candidates.size();
    std::vector<std::vector<std::uint8_t>> strips(count);
    std::vector<std::string> strip_errors(count);
    {
        const auto threads = static_cast<unsigned>(std::min<std::size_t>(cores.threads(0), count));
        detect::work_pool pool(detect::work_pool::workers_for(threads));
        pool.run(static_cast<unsigned>(count),
                 [&](unsigned k) { strips[k] = encode_png(cutout_strip(o.candidates[k]), &strip_errors[k]); });
    }
    for (const std::size_t index : review_order(o.candidates)) {
        const measured_candidate& m = o.candidates[index];
        const detect::candidate& k = m.c;
        const std::string utc = o.utc_text(k.peak.frame);
        s += "<section class=\"candidate\" id=\"candidate-" + std::to_string(k.number) + "\">\n<h3>Candidate " +
             std::to_string(k.number) + ": frame " + std::to_string(k.peak.frame) + ", x " +
             std::to_string(k.peak.det.x) + ", y " + std::to_string(k.peak.det.y) +
             (utc.empty() ? std::string{} : ", " + html_escape(utc)) + "</h3>\n<table>\n" +
             row("Class", std::string(class_name(m.cls))) +
             row("Expected from noise", significant_text(m.noise_expected).empty()
                                            ? std::string("n/a")
                                            : significant_text(m.noise_expected) + " candidates this significant") +
             row("Frames", std::to_string(k.first_frame) + " to " + std::to_string(k.last_frame) + " (" +
                               std::to_string(k.duration_frames()) + ")") +
             row("Start (UTC)", o.utc_text(k.first_frame).empty() ? "unknown" : o.utc_text(k.first_frame)) +
             row("Peak (UTC)", utc.empty() ? "unknown" : utc) +
             row("Peak", number(k.peak.significance(), sigma_decimals) + " sigma, " +
                             number(k.peak.excess(), counts_decimals) + " counts above the mean " +
                             number(k.peak.det.mean, counts_decimals)) +
             row("Integrated excess (5 x 5 box)", number(m.integrated_excess, counts_decimals) + " counts") +
             row("Thresholds", thresholds_text(k.thresholds)) + row("Detections", std::to_string(k.detections));
        if (const std::string where = position_text(o, m); !where.empty()) s += row("On the Moon", where);
        s += "</table>\n";
        const std::vector<std::uint8_t>& png = strips[index];
        const std::string& error = strip_errors[index];
        std::string frames;
        for (const cutout& cut : m.cutouts) frames += (frames.empty() ? "" : ", ") + std::to_string(cut.frame);
        const std::string alt =
            "frames " + frames + " around x " + std::to_string(k.peak.det.x) + ", y " + std::to_string(k.peak.det.y);
        if (png.empty())
            s += "<p class=\"strip\">The cut-outs could not be made (" + html_escape(error) + ").</p>\n";
        else
            s += "<p>Cut-outs of 41 x 41 pixels, " + html_escape(alt) + ":</p>\n<img class=\"strip\" alt=\"" +
                 html_escape(alt) + "\" src=\"data:image/png;base64," + base64(png) + "\">\n";
        s += light_curve_svg(o, m) + "</section>\n";
    }
    return s + "</body>\n</html>\n";
}

} // namespace serflash::report
