#include "detect/fast_kernels.h"

#include "detect/packet_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

// The hot loops are built for several instruction sets and picked at run time.
// (Not under the thread sanitizer: its run time is not ready when the choice is made.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define SERFLASH_MULTIVERSION 1
#define SERFLASH_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define SERFLASH_MULTIVERSION 0
#define SERFLASH_CLONES
#endif
#define SERFLASH_INLINE inline __attribute__((always_inline))

namespace serflash::detect::fast {
namespace {

template <typename T>
SERFLASH_INLINE void accumulate_row(const T* __restrict row, std::size_t w, std::uint32_t* __restrict sum,
                                    std::uint32_t* __restrict lo, std::uint32_t* __restrict hi) {
    for (std::size_t c = 0; c < w; ++c) {
        const std::uint32_t x = row[c];
        const std::uint32_t p = x * x;
        sum[c] += x;
        lo[c] += p & 0xFFFFU;
        hi[c] += p >> 16;
    }
}

struct track_arrays {
    std::uint16_t *m1, *m2, *m3, *m4, *f1, *f2, *f3, *nl, *nr, *nu, *nd;
    track_arrays at(std::size_t i) const {
        return {m1 + i, m2 + i, m3 + i, m4 + i, f1 + i, f2 + i, f3 + i, nl + i, nr + i, nu + i, nd + i};
    }
};

// The columns of a row that do not fill a vector, one by one.
template <typename T>
SERFLASH_INLINE void track_span(const T* __restrict row, const T* __restrict up, const T* __restrict down,
                                std::size_t c0, std::size_t c1, std::uint16_t frame, const track_arrays& t) {
    for (std::size_t c = c0; c < c1; ++c) {
        const std::uint16_t x = row[c];
        const std::uint16_t a1 = t.m1[c], a2 = t.m2[c], a3 = t.m3[c], a4 = t.m4[c];
        const std::uint16_t g1 = t.f1[c], g2 = t.f2[c], g3 = t.f3[c];
        const bool over1 = x > a1, over2 = x > a2, over3 = x > a3;
        t.m4[c] = std::max(a4, std::min(x, a3));
        t.m3[c] = std::max(a3, std::min(x, a2));
        t.m2[c] = std::max(a2, std::min(x, a1));
        t.m1[c] = std::max(a1, x);
        t.f3[c] = over2 ? g2 : (over3 ? frame : g3);
        t.f2[c] = over1 ? g1 : (over2 ? frame : g2);
        t.f1[c] = over1 ? frame : g1;
        if (over1) {
            t.nl[c] = row[c - 1];
            t.nr[c] = row[c + 1];
            t.nu[c] = up[c];
            t.nd[c] = down[c];
        }
    }
}

// Vectors of L 16-bit lanes: 16 (256 bits, what every x86-64-v3 core handles natively) or 32
// (512 bits, for cores with AVX-512). Wider generic vectors than a core has are split by the
// compiler, and their selects then turn into scalar code.
template <std::size_t L>
struct lanes;
template <>
struct lanes<16> {
    using u16 = std::uint16_t __attribute__((vector_size(32)));
    using s16 = std::int16_t __attribute__((vector_size(32)));
    using u32 = std::uint32_t __attribute__((vector_size(32))); // half of the lanes, widened
    using u16_half = std::uint16_t __attribute__((vector_size(16)));
    using u8 = std::uint8_t __attribute__((vector_size(16)));
};
template <>
struct lanes<32> {
    using u16 = std::uint16_t __attribute__((vector_size(64)));
    using s16 = std::int16_t __attribute__((vector_size(64)));
    using u32 = std::uint32_t __attribute__((vector_size(64)));
    using u16_half = std::uint16_t __attribute__((vector_size(32)));
    using u8 = std::uint8_t __attribute__((vector_size(32)));
};

template <typename V>
SERFLASH_INLINE V load_vec(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename V>
SERFLASH_INLINE void store_vec(void* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}
// Lane i of the result is lane mask[i] of a and b laid end to end. Clang has no two-vector
// shuffle by a mask vector, so its builds (the fuzzers) take the lanes one by one.
template <typename V>
SERFLASH_INLINE V shuffle_lanes(const V& a, const V& b, const V& mask) {
#if defined(__clang__)
    constexpr std::size_t n = sizeof(V) / sizeof(a[0]);
    V out{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = mask[i];
        out[i] = k < n ? a[k] : b[k - n];
    }
    return out;
#else
    return __builtin_shuffle(a, b, mask);
#endif
}
// L samples widened to 16 bits.
template <std::size_t L, typename T>
SERFLASH_INLINE typename lanes<L>::u16 load_samples(const T* p) {
    if constexpr (sizeof(T) == 2)
        return load_vec<typename lanes<L>::u16>(p);
    else
        return __builtin_convertvector(load_vec<typename lanes<L>::u8>(p), typename lanes<L>::u16);
}
// L 16-bit samples widened to 32 bits, in two halves.
template <std::size_t L>
SERFLASH_INLINE void load_wide(const std::uint16_t* p, typename lanes<L>::u32& low, typename lanes<L>::u32& high) {
    using half = typename lanes<L>::u16_half;
    using u32 = typename lanes<L>::u32;
    low = __builtin_convertvector(load_vec<half>(p), u32);
    high = __builtin_convertvector(load_vec<half>(p + L / 2), u32);
}
template <typename V>
SERFLASH_INLINE V vmax(V a, V b) {
    return a > b ? a : b;
}
template <typename V>
SERFLASH_INLINE V vmin(V a, V b) {
    return a < b ? a : b;
}

// The sums of L columns over frames: of the samples, and of their squares in two halves (for
// 16-bit samples; bytes below).
template <std::size_t L, typename T>
struct column_sums {
    using u32 = typename lanes<L>::u32;
    static constexpr std::size_t half = L / 2;
    u32 s[2] = {}, lo[2] = {}, hi[2] = {};

    SERFLASH_INLINE void load(const std::uint32_t* sum, const std::uint32_t* sq_lo, const std::uint32_t* sq_hi) {
        s[0] = load_vec<u32>(sum);
        s[1] = load_vec<u32>(sum + half);
        lo[0] = load_vec<u32>(sq_lo);
        lo[1] = load_vec<u32>(sq_lo + half);
        hi[0] = load_vec<u32>(sq_hi);
        hi[1] = load_vec<u32>(sq_hi + half);
    }
    SERFLASH_INLINE void add(const T* p) {
        u32 a, b;
        load_wide<L>(p, a, b);
        const u32 pa = a * a, pb = b * b;
        s[0] += a;
        s[1] += b;
        lo[0] += pa & 0xFFFFU;
        lo[1] += pb & 0xFFFFU;
        hi[0] += pa >> 16;
        hi[1] += pb >> 16;
    }
    SERFLASH_INLINE void store(std::uint32_t* sum, std::uint32_t* sq_lo, std::uint32_t* sq_hi) const {
        store_vec(sum, s[0]);
        store_vec(sum + half, s[1]);
        store_vec(sq_lo, lo[0]);
        store_vec(sq_lo + half, lo[1]);
        store_vec(sq_hi, hi[0]);
        store_vec(sq_hi + half, hi[1]);
    }
};

// Lane i of a vector of N lanes: zip(i) takes lanes alternately from two vectors' halves from
// `from` (a[from], b[from], a[from + 1], ...); unzip(i) every other lane of two vectors from
// `from` (0: the even lanes, 1: the odd ones).
template <typename V, std::size_t... I>
constexpr V zip_lanes(std::size_t from, std::index_sequence<I...>) {
    constexpr std::size_t n = sizeof...(I);
    return V{static_cast<std::uint32_t>(I % 2 == 0 ? from + I / 2 : n + from + I / 2)...};
}
template <typename V, std::size_t... I>
constexpr V unzip_lanes(std::size_t from, std::index_sequence<I...>) {
    return V{static_cast<std::uint32_t>(2 * I + from)...};
}

// The sums of bytes: the squares stay below 65536, so they are made with 16-bit products, and
// up to 256 samples add up in 16 bits before they join the 32-bit sums. The 32-bit sums are
// held split into the even and the odd columns, as 16-bit lanes widen into 32-bit ones without
// moving across lanes; they are put back in column order when stored.
template <std::size_t L>
struct column_sums<L, std::uint8_t> {
    using u16 = typename lanes<L>::u16;
    using u32 = typename lanes<L>::u32;
    static constexpr std::size_t half = L / 2;
    static constexpr u32 even_lanes = unzip_lanes<u32>(0, std::make_index_sequence<half>{});
    static constexpr u32 odd_lanes = unzip_lanes<u32>(1, std::make_index_sequence<half>{});
    static constexpr u32 low_zip = zip_lanes<u32>(0, std::make_index_sequence<half>{});
    static constexpr u32 high_zip = zip_lanes<u32>(half / 2, std::make_index_sequence<half>{});
    u32 s_even{}, s_odd{}, lo_even{}, lo_odd{};
    u16 recent{}; // the samples of the last `recent_frames` frames
    int recent_frames = 0;

    SERFLASH_INLINE void load(const std::uint32_t* sum, const std::uint32_t* sq_lo, const std::uint32_t*) {
        const u32 s0 = load_vec<u32>(sum), s1 = load_vec<u32>(sum + half);
        const u32 q0 = load_vec<u32>(sq_lo), q1 = load_vec<u32>(sq_lo + half);
        s_even = shuffle_lanes(s0, s1, even_lanes);
        s_odd = shuffle_lanes(s0, s1, odd_lanes);
        lo_even = shuffle_lanes(q0, q1, even_lanes);
        lo_odd = shuffle_lanes(q0, q1, odd_lanes);
    }
    SERFLASH_INLINE void add(const std::uint8_t* p) {
        const u16 x = load_samples<L>(p);
        const auto sq = reinterpret_cast<u32>(x * x);
        lo_even += sq & 0xFFFFU;
        lo_odd += sq >> 16;
        recent += x;
        if (++recent_frames == 256) {
            take_recent(s_even, s_odd);
            recent = u16{};
            recent_frames = 0;
        }
    }
    SERFLASH_INLINE void take_recent(u32& even, u32& odd) const {
        const auto r = reinterpret_cast<u32>(recent);
        even += r & 0xFFFFU;
        odd += r >> 16;
    }
    SERFLASH_INLINE void store(std::uint32_t* sum, std::uint32_t* sq_lo, std::uint32_t* sq_hi) const {
        u32 even = s_even, odd = s_odd;
        take_recent(even, odd);
        store_vec(sum, shuffle_lanes(even, odd, low_zip));
        store_vec(sum + half, shuffle_lanes(even, odd, high_zip));
        store_vec(sq_lo, shuffle_lanes(lo_even, lo_odd, low_zip));
        store_vec(sq_lo + half, shuffle_lanes(lo_even, lo_odd, high_zip));
        store_vec(sq_hi, u32{}); // squares of bytes have no upper halves
        store_vec(sq_hi + half, u32{});
    }
};

// The four largest samples of L columns over frames, the frames of the first three, and the
// neighbours of the largest: with `blend`, kept in registers and replaced at every frame with a
// new largest sample; else taken once the frames of a block have gone by (see take_neighbours),
// from the frame the largest came from. On 256-bit vectors, which compare only signed 16-bit
// numbers in one step, the samples are ordered as such: 16-bit samples with their top bit
// flipped, bytes as they are.
template <std::size_t L, typename T, bool blend>
struct column_peaks {
    using u16 = typename lanes<L>::u16;
    static constexpr bool signed_order = L == 16;
    using s16 = std::conditional_t<signed_order, typename lanes<L>::s16, u16>;
    static constexpr std::uint16_t flip = signed_order && sizeof(T) == 2 ? 0x8000 : 0;
    s16 m1 = ordered(u16{}), m2 = m1, m3 = m1, m4 = m1;
    u16 f1{}, f2{}, f3{};
    u16 nl{}, nr{}, nu{}, nd{}; // with blend

    static SERFLASH_INLINE s16 ordered(const u16& x) {
        if constexpr (flip == 0)
            return reinterpret_cast<s16>(x);
        else
            return reinterpret_cast<s16>(x ^ flip);
    }
    static SERFLASH_INLINE u16 unordered(const s16& x) {
        if constexpr (flip == 0)
            return reinterpret_cast<u16>(x);
        else
            return reinterpret_cast<u16>(x) ^ flip;
    }

    SERFLASH_INLINE void load(const track_arrays& t) {
        m1 = ordered(load_vec<u16>(t.m1));
        m2 = ordered(load_vec<u16>(t.m2));
        m3 = ordered(load_vec<u16>(t.m3));
        m4 = ordered(load_vec<u16>(t.m4));
        f1 = load_vec<u16>(t.f1);
        f2 = load_vec<u16>(t.f2);
        f3 = load_vec<u16>(t.f3);
        if constexpr (blend) {
            nl = load_vec<u16>(t.nl);
            nr = load_vec<u16>(t.nr);
            nu = load_vec<u16>(t.nu);
            nd = load_vec<u16>(t.nd);
        }
    }
    SERFLASH_INLINE void add(const T* p, std::size_t w, const u16& frame) {
        const s16 x = ordered(load_samples<L>(p));
        const auto over1 = x > m1;
        const auto over2 = x > m2;
        const auto over3 = x > m3;
        m4 = vmax(m4, vmin(x, m3));
        m3 = vmax(m3, vmin(x, m2));
        m2 = vmax(m2, vmin(x, m1));
        m1 = vmax(m1, x);
        f3 = over2 ? f2 : (over3 ? frame : f3);
        f2 = over1 ? f1 : (over2 ? frame : f2);
        f1 = over1 ? frame : f1;
        if constexpr (blend) {
            nl = over1 ? load_samples<L>(p - 1) : nl;
            nr = over1 ? load_samples<L>(p + 1) : nr;
            nu = over1 ? load_samples<L>(p - w) : nu;
            nd = over1 ? load_samples<L>(p + w) : nd;
        }
    }
    // The neighbours of the lanes whose largest sample came in the block just added (its frames
    // from `first`, the first numbered first_index): the samples around it in that frame. The
    // others keep theirs (none yet: zeros). Before store: t.m1 still holds the largest before
    // the block.
    SERFLASH_INLINE void take_neighbours(const T* first, std::size_t frame_stride, std::size_t w,
                                         std::uint16_t first_index, bool fresh, const track_arrays& t) const {
        const u16 before = fresh ? u16{} : load_vec<u16>(t.m1);
        const u16 changed = unordered(m1) > before ? u16{} + 1 : u16{};
        if (fresh)
            for (std::uint16_t* a : {t.nl, t.nr, t.nu, t.nd}) store_vec(a, u16{});
        std::uint16_t moved[L], frame[L];
        store_vec(moved, changed);
        store_vec(frame, f1);
        std::uint32_t bits = 0;
        for (std::size_t j = 0; j < L; ++j) bits |= static_cast<std::uint32_t>(moved[j]) << j;
        for (; bits != 0; bits &= bits - 1) {
            const auto j = static_cast<std::size_t>(__builtin_ctz(bits));
            const T* q = first + static_cast<std::size_t>(frame[j] - first_index) * frame_stride + j;
            t.nl[j] = q[-1];
            t.nr[j] = q[1];
            t.nu[j] = q[-static_cast<std::ptrdiff_t>(w)];
            t.nd[j] = q[w];
        }
    }
    SERFLASH_INLINE void store(const track_arrays& t) const {
        store_vec(t.m1, unordered(m1));
        store_vec(t.m2, unordered(m2));
        store_vec(t.m3, unordered(m3));
        store_vec(t.m4, unordered(m4));
        store_vec(t.f1, f1);
        store_vec(t.f2, f2);
        store_vec(t.f3, f3);
        if constexpr (blend) {
            store_vec(t.nl, nl);
            store_vec(t.nr, nr);
            store_vec(t.nu, nu);
            store_vec(t.nd, nd);
        }
    }
};

// The L columns from pixel i of `count` frames (the first at `first`), their state held in
// registers while the frames go by. With 32 vector registers (512-bit cores), or the sums of
// bytes (no upper halves of squares), the sums and the largest samples fit together and the
// frames are read once; else the largest samples are found in a second sweep over the same
// frames, still in the cache.
template <std::size_t L, typename T>
SERFLASH_INLINE void add_block(const T* first, std::size_t frame_stride, std::size_t w, std::int32_t count,
                               std::uint16_t first_index, bool tracked, std::uint32_t* sum, std::uint32_t* lo,
                               std::uint32_t* hi, const track_arrays& t) {
    using u16 = typename lanes<L>::u16;
    constexpr bool one_sweep = L == 32 || sizeof(T) == 1;
    // The neighbours of 16-bit samples at every frame; those of bytes after the block, as the
    // largest of bytes changes less often than the sweep blends.
    constexpr bool blend = sizeof(T) == 2;
    const bool fresh = first_index == 0;
    column_sums<L, T> sums;
    column_peaks<L, T, blend> peaks;
    if (!fresh) sums.load(sum, lo, hi);
    if (!fresh && tracked) peaks.load(t);
    const T* p = first;
    if (one_sweep && tracked) {
        u16 frame = u16{} + first_index;
        for (std::int32_t k = 0; k < count; ++k, p += frame_stride, frame += 1) {
            sums.add(p);
            peaks.add(p, w, frame);
        }
    } else {
        for (std::int32_t k = 0; k < count; ++k, p += frame_stride) sums.add(p);
        if (tracked) {
            p = first;
            u16 frame = u16{} + first_index;
            for (std::int32_t k = 0; k < count; ++k, p += frame_stride, frame += 1) peaks.add(p, w, frame);
        }
    }
    sums.store(sum, lo, hi);
    if (tracked) {
        if constexpr (!blend) peaks.take_neighbours(first, frame_stride, w, first_index, fresh, t);
        peaks.store(t);
    }
}

// Rows [row_begin, row_end) of `count` frames: L columns at a time, then 16, then one by one.
// Row r of frame k is at frames + k x frame_stride + (r - first_row) x w; its state at
// (r - row_begin) x w.
template <std::size_t L, typename T>
SERFLASH_INLINE void add_frames_impl(const T* frames, std::size_t frame_stride, std::size_t first_row, std::size_t w,
                                     std::size_t h, std::int32_t count, std::int32_t first_index,
                                     std::int32_t row_begin, std::int32_t row_end, std::uint32_t* sum,
                                     std::uint32_t* lo, std::uint32_t* hi, const track_arrays& t) {
    const bool inner = w > 20 && h > 20;
    const bool fresh = first_index == 0;
    const auto index = static_cast<std::uint16_t>(first_index);
    for (std::int32_t r = row_begin; r < row_end; ++r) {
        const T* frame_row = frames + (static_cast<std::size_t>(r) - first_row) * w;
        const std::size_t at = static_cast<std::size_t>(r - row_begin) * w;
        // Inner rows track every column: the neighbours of the edge columns are still inside
        // the frame there, and what is tracked outside the inner columns is never used.
        const bool tracked = inner && r >= inner_margin && static_cast<std::size_t>(r) < h - inner_margin;
        std::size_t c = 0;
        for (; c + L <= w; c += L) {
            const std::size_t i = at + c;
            add_block<L>(frame_row + c, frame_stride, w, count, index, tracked, sum + i, lo + i, hi + i, t.at(i));
        }
        if constexpr (L > 16) {
            if (c + 16 <= w) {
                const std::size_t i = at + c;
                add_block<16>(frame_row + c, frame_stride, w, count, index, tracked, sum + i, lo + i, hi + i, t.at(i));
                c += 16;
            }
        }
        if (c == w) continue;
        const track_arrays tr = t.at(at);
        if (fresh) {
            for (std::uint32_t* a : {sum + at, lo + at, hi + at}) std::fill(a + c, a + w, 0U);
            for (std::uint16_t* a : {tr.m1, tr.m2, tr.m3, tr.m4, tr.f1, tr.f2, tr.f3, tr.nl, tr.nr, tr.nu, tr.nd})
                std::fill(a + c, a + w, std::uint16_t{0});
        }
        for (std::int32_t k = 0; k < count; ++k) {
            const T* row = frame_row + static_cast<std::size_t>(k) * frame_stride;
            accumulate_row(row + c, w - c, sum + at + c, lo + at + c, hi + at + c);
            if (tracked)
                track_span(row, row - w, row + w, std::max<std::size_t>(c, 1), w - 1,
                           static_cast<std::uint16_t>(first_index + k), tr);
        }
    }
}

#define SERFLASH_ADD_FRAMES_ARGS                                                                    \
    const T *frames, std::size_t frame_stride, std::size_t first_row, std::size_t w, std::size_t h, \
        std::int32_t count, std::int32_t first_index, std::int32_t row_begin, std::int32_t row_end, \
        std::uint32_t *sum, std::uint32_t *lo, std::uint32_t *hi, const track_arrays &t

template <typename T>
using add_frames_fn = void (*)(SERFLASH_ADD_FRAMES_ARGS);

template <typename T>
void add_frames_base(SERFLASH_ADD_FRAMES_ARGS) {
    add_frames_impl<16>(frames, frame_stride, first_row, w, h, count, first_index, row_begin, row_end, sum, lo, hi, t);
}

#if SERFLASH_MULTIVERSION
template <typename T>
__attribute__((target("arch=x86-64-v3"))) void add_frames_v3(SERFLASH_ADD_FRAMES_ARGS) {
    add_frames_impl<16>(frames, frame_stride, first_row, w, h, count, first_index, row_begin, row_end, sum, lo, hi, t);
}
template <typename T>
__attribute__((target("arch=x86-64-v4"))) void add_frames_v4(SERFLASH_ADD_FRAMES_ARGS) {
    add_frames_impl<32>(frames, frame_stride, first_row, w, h, count, first_index, row_begin, row_end, sum, lo, hi, t);
}
#endif

#if SERFLASH_MULTIVERSION
// 0: portable code only; 3: x86-64-v3 (AVX2); 4: x86-64-v4 (AVX-512).
int vector_level() {
    static const int level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("x86-64-v4")) return 4;
        if (__builtin_cpu_supports("x86-64-v3")) return 3;
        return 0;
    }();
    return level;
}
#else
int vector_level() { return 0; }
#endif

template <typename T>
add_frames_fn<T> kernel_for(summing_kernel k) {
#if SERFLASH_MULTIVERSION
    const int level = vector_level();
    if (k == summing_kernel::widest && level >= 4) return add_frames_v4<T>;
    if (k != summing_kernel::portable && level >= 3) return add_frames_v3<T>;
#endif
    (void)k;
    return add_frames_base<T>;
}
#undef SERFLASH_ADD_FRAMES_ARGS

SERFLASH_CLONES void finish_span(const std::uint32_t* sum, const std::uint32_t* lo, const std::uint32_t* hi,
                                 std::size_t count, double n, double d, double* mean_map, double* sigma_map) {
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint64_t q = (static_cast<std::uint64_t>(hi[p]) << 16) + lo[p];
        const pixel_moments m = packet_moments(static_cast<double>(sum[p]), static_cast<double>(q), n, d);
        mean_map[p] = m.mean;
        sigma_map[p] = m.sigma;
    }
}

// Samples above their limits anywhere in [c0, c1) of one row?
template <typename T>
SERFLASH_INLINE bool any_above(const T* row, const std::uint16_t* limits, std::size_t c0, std::size_t c1) {
    unsigned any = 0;
    for (std::size_t c = c0; c < c1; ++c) any |= static_cast<unsigned>(row[c] > limits[c]);
    return any != 0;
}

SERFLASH_CLONES bool any_above_u16(const std::uint16_t* row, const std::uint16_t* limits, std::size_t c0,
                                   std::size_t c1) {
    return any_above(row, limits, c0, c1);
}
SERFLASH_CLONES bool any_above_u8(const std::uint8_t* row, const std::uint16_t* limits, std::size_t c0,
                                  std::size_t c1) {
    return any_above(row, limits, c0, c1);
}

template <typename T>
void test_frame_impl(const frame_geometry& g, const scan_settings& cfg, const T* frame, const double* mean_map,
                     const double* sigma_map, const std::uint16_t* limits, std::vector<candidate>& out) {
    if (!g.has_inner()) return;
    const auto w = static_cast<std::size_t>(g.width);
    constexpr std::size_t block = 64;
    for (std::int32_t r = inner_margin; r < g.height - inner_margin; ++r) {
        const std::size_t at = static_cast<std::size_t>(r) * w;
        const T* row = frame + at;
        // The rows around it from their own starts: row[c - w] would wrap the unsigned index.
        const T* above = row - w;
        const T* below = row + w;
        const std::uint16_t* lim = limits + at;
        for (std::size_t c0 = inner_margin; c0 < w - inner_margin; c0 += block) {
            const std::size_t c1 = std::min(c0 + block, w - inner_margin);
            bool any = false;
            if constexpr (sizeof(T) == 1)
                any = any_above_u8(row, lim, c0, c1);
            else
                any = any_above_u16(row, lim, c0, c1);
            if (!any) continue;
            for (std::size_t c = c0; c < c1; ++c) {
                const std::uint16_t s = row[c];
                if (s <= lim[c]) continue;
                const std::uint16_t nb[4] = {row[c - 1], row[c + 1], above[c], below[c]};
                candidate cand;
                if (make_candidate(g, cfg, mean_map, sigma_map, at + c, s, nb, cand)) out.push_back(cand);
            }
        }
    }
}

// The ring pixels of (j, c) as offsets from the centre, in the order of the one-pixel test: top
// row left to right, the rows between (left then right pixel), bottom row left to right.
std::vector<std::ptrdiff_t> ring_offsets(std::size_t w, std::int32_t s) {
    std::vector<std::ptrdiff_t> out;
    const auto at = [&](std::int64_t dr, std::int64_t dc) {
        out.push_back(static_cast<std::ptrdiff_t>(dr * static_cast<std::int64_t>(w) + dc));
    };
    for (std::int64_t dc = -s; dc <= s; ++dc) at(-s, dc);
    for (std::int64_t dr = -s + 1; dr <= s - 1; ++dr) {
        at(dr, -s);
        at(dr, s);
    }
    for (std::int64_t dc = -s; dc <= s; ++dc) at(s, dc);
    return out;
}

using f64x8 = double __attribute__((vector_size(64)));

// Ring sums of the star test for the columns [c0, c1] of row j, 32 columns at a time, the sums
// in registers while the ring pixels go by; each lane adds its ring pixels in the order of the
// one-pixel test.
SERFLASH_CLONES void ring_sums(const double* mean_map, std::size_t w, std::int32_t j, const std::ptrdiff_t* ring,
                               std::size_t ring_size, std::size_t c0, std::size_t c1, double* sum, double* sum_sq) {
    const double* centre_row = mean_map + static_cast<std::size_t>(j) * w;
    std::size_t c = c0;
    for (; c + 32 <= c1 + 1; c += 32) {
        f64x8 t0{}, t1{}, t2{}, t3{}, q0{}, q1{}, q2{}, q3{};
        const double* centre = centre_row + c;
        for (std::size_t k = 0; k < ring_size; ++k) {
            const double* src = centre + ring[k];
            const f64x8 m0 = load_vec<f64x8>(src), m1 = load_vec<f64x8>(src + 8);
            const f64x8 m2 = load_vec<f64x8>(src + 16), m3 = load_vec<f64x8>(src + 24);
            t0 += m0;
            t1 += m1;
            t2 += m2;
            t3 += m3;
            q0 += m0 * m0;
            q1 += m1 * m1;
            q2 += m2 * m2;
            q3 += m3 * m3;
        }
        store_vec(sum + c, t0);
        store_vec(sum + c + 8, t1);
        store_vec(sum + c + 16, t2);
        store_vec(sum + c + 24, t3);
        store_vec(sum_sq + c, q0);
        store_vec(sum_sq + c + 8, q1);
        store_vec(sum_sq + c + 16, q2);
        store_vec(sum_sq + c + 24, q3);
    }
    for (; c <= c1; ++c) {
        double t = 0.0, q = 0.0;
        const double* centre = centre_row + c;
        for (std::size_t k = 0; k < ring_size; ++k) {
            const double m = centre[ring[k]];
            t += m;
            q += m * m;
        }
        sum[c] = t;
        sum_sq[c] = q;
    }
}

bool star_from_sums(const scan_settings& cfg, const double* mean_map, std::size_t w, std::size_t i, std::int32_t k,
                    double sum, double sum_sq) {
    const std::size_t neighbour[4] = {i - 1, i + 1, i - w, i + w};
    return star_rule(cfg, k, sum, sum_sq, mean_map[i], [&](int n) { return mean_map[neighbour[n]]; });
}

} // namespace

std::vector<summing_kernel> kernels_here() {
    std::vector<summing_kernel> out{summing_kernel::widest};
    if (vector_level() >= 4) out.push_back(summing_kernel::vectors_256);
    if (vector_level() >= 3) out.push_back(summing_kernel::portable);
    return out;
}

const char* kernel_isa(summing_kernel k) {
    const int level = vector_level();
    if (k == summing_kernel::widest && level >= 4) return "avx512";
    if (k != summing_kernel::portable && level >= 3) return "avx2";
    return "portable";
}

void band_accumulator::start(const frame_geometry& g, std::int32_t row_begin, std::int32_t row_end) {
    geom_ = g;
    row_begin_ = row_begin;
    row_end_ = row_end;
    const std::size_t n = static_cast<std::size_t>(row_end - row_begin) * width();
    // Each array starts on a 64-byte boundary: 3 arrays of 32-bit and 11 of 16-bit values.
    const std::size_t words32 = (n + 31) / 32 * 32;
    const std::size_t words16 = words32 / 2;
    if (arena_.size() < 3 * words32 + 11 * words16) arena_.resize(3 * words32 + 11 * words16);
    std::uint32_t* p = arena_.data();
    sum_ = p;
    sq_lo_ = p + words32;
    sq_hi_ = p + 2 * words32;
    auto* q = reinterpret_cast<std::uint16_t*>(p + 3 * words32);
    std::uint16_t** arrays16[11] = {&max_[0],        &max_[1],        &max_[2],       &max_[3],
                                    &frame_[0],      &frame_[1],      &frame_[2],     &neighbours_[0],
                                    &neighbours_[1], &neighbours_[2], &neighbours_[3]};
    for (std::size_t k = 0; k < 11; ++k) *arrays16[k] = q + k * 2 * words16;
}

void band_accumulator::add(const std::uint8_t* frames, std::int32_t count, std::int32_t first_index,
                           std::int32_t first_row, std::int32_t rows) {
    const std::size_t w = width();
    const auto h = static_cast<std::size_t>(geom_.height);
    const std::size_t stride = static_cast<std::size_t>(rows) * w;
    const auto first = static_cast<std::size_t>(first_row);
    const track_arrays t{max_[0],   max_[1],        max_[2],        max_[3],        frame_[0],     frame_[1],
                         frame_[2], neighbours_[0], neighbours_[1], neighbours_[2], neighbours_[3]};
    if (geom_.eight_bit) {
        kernel_for<std::uint8_t>(kernel_)(frames, stride, first, w, h, count, first_index, row_begin_, row_end_, sum_,
                                          sq_lo_, sq_hi_, t);
    } else {
        // Frames are read into 16-bit aligned buffers by the scanner.
        const auto* samples = reinterpret_cast<const std::uint16_t*>(frames);
        kernel_for<std::uint16_t>(kernel_)(samples, stride, first, w, h, count, first_index, row_begin_, row_end_, sum_,
                                           sq_lo_, sq_hi_, t);
    }
}

void band_accumulator::finish(std::int32_t packet_size, double* mean_map, double* sigma_map,
                              std::vector<pixel_peaks>& peaks) const {
    const std::size_t w = width();
    const std::size_t at = static_cast<std::size_t>(row_begin_) * w;
    const std::size_t count = static_cast<std::size_t>(row_end_ - row_begin_) * w;
    const double n = static_cast<double>(packet_size);
    const double d = static_cast<double>(packet_size - 1);
    finish_span(sum_, sq_lo_, sq_hi_, count, n, d, mean_map + at, sigma_map + at);
    if (!geom_.has_inner()) return;
    const std::int32_t r0 = std::max(row_begin_, inner_margin);
    const std::int32_t r1 = std::min(row_end_, geom_.height - inner_margin);
    for (std::int32_t r = r0; r < r1; ++r) {
        const std::size_t row = static_cast<std::size_t>(r) * w;
        for (std::size_t c = inner_margin; c < w - inner_margin; ++c) {
            const std::size_t i = row + c;
            if (main_test(static_cast<double>(max_[0][local(i)]), mean_map[i], sigma_map[i], lowest_threshold))
                peaks.push_back(peaks_at(i));
        }
    }
}

pixel_peaks band_accumulator::peaks_at(std::size_t i) const {
    const std::size_t k = local(i);
    pixel_peaks p;
    p.index = static_cast<std::uint32_t>(i);
    for (std::size_t n = 0; n < 4; ++n) p.sample[n] = max_[n][k];
    for (std::size_t n = 0; n < 3; ++n) p.frame[n] = frame_[n][k];
    for (std::size_t n = 0; n < 4; ++n) p.neighbour[n] = neighbours_[n][k];
    return p;
}

void compute_limits(const frame_geometry& g, const double* mean_map, const double* sigma_map, std::uint16_t* limits,
                    std::int32_t row_begin, std::int32_t row_end) {
    if (!g.has_inner()) return;
    const auto w = static_cast<std::size_t>(g.width);
    for (std::int32_t r = std::max(row_begin, inner_margin); r < std::min(row_end, g.height - inner_margin); ++r) {
        const std::size_t at = static_cast<std::size_t>(r) * w;
        for (std::size_t c = inner_margin; c < w - inner_margin; ++c)
            limits[at + c] = sample_limit(mean_map[at + c], sigma_map[at + c], lowest_threshold);
    }
}

std::int32_t top_threshold(std::uint16_t sample, double mean, double sigma) {
    const double s = static_cast<double>(sample);
    std::int32_t good = lowest_threshold;
    std::int32_t bad = std::numeric_limits<std::int32_t>::max();
    if (main_test(s, mean, sigma, bad)) return bad;
    while (bad - good > 1) {
        const std::int32_t mid = good + (bad - good) / 2;
        if (main_test(s, mean, sigma, mid))
            good = mid;
        else
            bad = mid;
    }
    return good;
}

bool make_candidate(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, const double* sigma_map,
                    std::size_t i, std::uint16_t sample, const std::uint16_t nb[4], candidate& out) {
    const double s = static_cast<double>(sample);
    const double m = mean_map[i];
    const double sd = sigma_map[i];
    if (!main_test(s, m, sd, lowest_threshold)) return false;
    const double d = s - m;
    const auto w = static_cast<std::size_t>(g.width);
    const std::size_t neighbour[4] = {i - 1, i + 1, i - w, i + w};
    const std::int32_t pct[4] = {cfg.pct_left, cfg.pct_right, cfg.pct_top, cfg.pct_bottom};
    for (int n = 0; n < 4; ++n)
        if (!neighbour_test(static_cast<double>(nb[n]), mean_map[neighbour[n]], d, pct[n])) return false;
    out.row = static_cast<std::int32_t>(i / w);
    out.col = static_cast<std::int32_t>(i % w);
    out.top_threshold = top_threshold(sample, m, sd);
    out.mean = m;
    out.sigma = sd;
    out.sample = sample;
    out.sigma_zero = sd == 0.0;
    return true;
}

void test_frame(const frame_geometry& g, const scan_settings& cfg, const std::uint8_t* frame, const double* mean_map,
                const double* sigma_map, const std::uint16_t* limits, std::vector<candidate>& out) {
    if (g.eight_bit)
        test_frame_impl(g, cfg, frame, mean_map, sigma_map, limits, out);
    else
        test_frame_impl(g, cfg, reinterpret_cast<const std::uint16_t*>(frame), mean_map, sigma_map, limits, out);
}

void dilate_marks(const frame_geometry& g, const std::uint8_t* marks, std::int32_t half, double* sigma_map) {
    if (half < 0) return;
    const auto w = static_cast<std::size_t>(g.width);
    const auto h = static_cast<std::size_t>(g.height);
    const auto reach = static_cast<std::size_t>(std::min<std::int64_t>(half, std::max(g.width, g.height)));
    // Rows: covered[c] when a mark lies within reach columns; then columns likewise.
    std::vector<std::uint8_t> across(w * h, 0);
    std::vector<std::int32_t> prefix(std::max(w, h) + 1);
    bool any_mark = false;
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* m = marks + r * w;
        if (std::find(m, m + w, std::uint8_t{1}) == m + w) continue;
        any_mark = true;
        prefix[0] = 0;
        for (std::size_t c = 0; c < w; ++c) prefix[c + 1] = prefix[c] + (m[c] != 0 ? 1 : 0);
        for (std::size_t c = 0; c < w; ++c) {
            const std::size_t lo = c >= reach ? c - reach : 0;
            const std::size_t hi = std::min(w, c + reach + 1);
            across[r * w + c] = prefix[hi] - prefix[lo] > 0 ? 1 : 0;
        }
    }
    if (!any_mark) return;
    for (std::size_t c = 0; c < w; ++c) {
        prefix[0] = 0;
        for (std::size_t r = 0; r < h; ++r) prefix[r + 1] = prefix[r] + across[r * w + c];
        if (prefix[h] == 0) continue;
        for (std::size_t r = 0; r < h; ++r) {
            const std::size_t lo = r >= reach ? r - reach : 0;
            const std::size_t hi = std::min(h, r + reach + 1);
            if (prefix[hi] - prefix[lo] > 0) sigma_map[r * w + c] = mask_value;
        }
    }
}

int star_at(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, std::int32_t row,
            std::int32_t col) {
    return star_test(mean_map, g.width, g.height, cfg, row, col);
}

void find_stars(const frame_geometry& g, const scan_settings& cfg, const double* mean_map, std::int32_t* star_map,
                std::int32_t row_begin, std::int32_t row_end) {
    if (!g.has_inner()) return;
    const auto w = static_cast<std::size_t>(g.width);
    const std::int32_t s = cfg.star_half_width;
    std::vector<double> sum(w), sum_sq(w);
    const std::vector<std::ptrdiff_t> ring = s > 0 ? ring_offsets(w, s) : std::vector<std::ptrdiff_t>{};
    for (std::int32_t j = std::max(row_begin, inner_margin); j < std::min(row_end, g.height - inner_margin); ++j) {
        std::int32_t* out = star_map + static_cast<std::size_t>(j) * w;
        const std::int32_t last_col = g.width - 1 - inner_margin;
        if (s <= 0) {
            std::fill(out + inner_margin, out + last_col + 1, 0);
            continue;
        }
        // Columns whose whole ring lies inside the image are summed lane by lane.
        const bool rows_inside = j - s >= 0 && static_cast<std::int64_t>(j) + s <= g.height - 1;
        const std::int32_t fast0 = std::max(inner_margin, s);
        const std::int32_t fast1 =
            static_cast<std::int32_t>(std::min<std::int64_t>(last_col, g.width - 1 - std::int64_t{s}));
        if (!rows_inside || fast0 > fast1) {
            for (std::int32_t c = inner_margin; c <= last_col; ++c) out[c] = star_at(g, cfg, mean_map, j, c);
            continue;
        }
        for (std::int32_t c = inner_margin; c < fast0; ++c) out[c] = star_at(g, cfg, mean_map, j, c);
        for (std::int32_t c = fast1 + 1; c <= last_col; ++c) out[c] = star_at(g, cfg, mean_map, j, c);
        ring_sums(mean_map, w, j, ring.data(), ring.size(), static_cast<std::size_t>(fast0),
                  static_cast<std::size_t>(fast1), sum.data(), sum_sq.data());
        const std::int32_t k = 8 * s;
        for (std::int32_t c = fast0; c <= fast1; ++c) {
            const auto cc = static_cast<std::size_t>(c);
            out[c] =
                star_from_sums(cfg, mean_map, w, static_cast<std::size_t>(j) * w + cc, k, sum[cc], sum_sq[cc]) ? 1 : 0;
        }
    }
}

} // namespace serflash::detect::fast
