#pragma once
// The cores a run may keep busy, passed down and divided as the run divides its work: among the
// files (or injected runs) scanned at once, then among the workers of each. Every part of the
// engine that starts threads to compute takes its count from a budget handed to it, so that
// however --jobs and --threads combine, the threads computing at once never outnumber its cores.
namespace serflash::detect {

class core_budget {
public:
    // No bound: a job gets the threads it asks for, and every core of the machine when it asks
    // for none (a scan run on its own, whose caller chooses its thread count).
    core_budget() = default;
    // `cores` cores, at least one.
    static core_budget of(unsigned cores);
    // Every core of this machine (one when the number is unknown).
    static core_budget machine();

    bool bounded() const { return cores_ != 0; }
    // The cores of a bounded budget; the machine's otherwise.
    unsigned cores() const;
    // How many of `wanted` jobs run at once: at least one, never more than the cores.
    unsigned at_once(unsigned wanted) const;
    // The budget of each of `parts` jobs run at once: an equal share, at least one core.
    core_budget share(unsigned parts) const;
    // The threads a job asking for `requested` (0: as many as it may) computes on.
    unsigned threads(unsigned requested) const;
    // Whether a thread that only reads ahead (it waits on the disk and computes nothing) may run
    // beside the workers: not in a share of one core, which reads ahead by the system's hint alone.
    bool reader_thread() const { return cores_ != 1; }

private:
    explicit core_budget(unsigned cores) : cores_(cores) {}
    unsigned cores_ = 0; // 0: no bound
};

} // namespace serflash::detect
