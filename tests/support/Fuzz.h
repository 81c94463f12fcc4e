#pragma once
// Seeded fuzzing of the readers of outside input. A case feeds one reader mutations of realistic inputs and
// checks what the reader promises besides not crashing: nothing thrown, outputs untouched on failure, paths
// under their folder, a successful read written back the same. Every case ends with one line,
//     fuzz <reader>: <inputs> inputs, <outcomes> distinct outcomes, <faults> faults
// and the number of inputs is TELEMETRY_FUZZ_INPUTS (2,000 when unset), so that a longer run is the same
// program with one more variable. A reader whose every input costs milliseconds of Windows' own work (a file
// written, a cipher's provider) takes a share of that number: slowness 10 feeds it a tenth.

#include <cstdint>
#include <initializer_list>
#include <random>
#include <set>
#include <string>
#include <vector>

class CFuzzRun
{
public:
    explicit CFuzzRun(std::string reader, int slowness = 1, std::uint32_t seed = 20261207);
    ~CFuzzRun(); // the summary line
    CFuzzRun(const CFuzzRun&) = delete;
    CFuzzRun& operator=(const CFuzzRun&) = delete;

    // Calls each(n) once per input; an exception that leaves it is a fault.
    template <typename Each>
    void ForEachInput(Each each)
    {
        for (int n = 0; n < m_inputs; ++n)
        {
            try
            {
                each(n);
            }
            catch (const std::exception& e)
            {
                Fault(std::string("exception: ") + e.what());
            }
            catch (...)
            {
                Fault("an exception that is not a std::exception");
            }
        }
    }

    // The next input, made from one of the seeds; it is also what a fault names.
    // Json mixes structural mutations (members of the wrong type, numbers at and past the limits, empty and
    // 100,000-character strings, NUL, lone surrogates, deep nesting, duplicated and missing members) with
    // byte mutations; Bytes only the latter; Text the same for UTF-16 text (NUL, lone surrogates, separators,
    // path parts, very long runs).
    std::string Json(const std::vector<std::string>& seeds);
    std::string Bytes(const std::vector<std::string>& seeds);
    std::wstring Text(const std::vector<std::wstring>& seeds);

    // What the reader made of the input (its result, or a short label): the distinct ones are counted.
    void Outcome(const std::string& outcome) { m_outcomes.insert(outcome); }
    void Outcome(unsigned long code) { Outcome(std::to_string(code)); }

    // A broken promise: counted, and a test failure naming the input (the first few in full).
    void Fault(const std::string& what);
    // Fault(what) when !holds; returns holds.
    bool Expect(bool holds, const std::string& what);
    // The run's verdict: no fault, and at least this many distinct outcomes (the inputs reached the reader).
    void ExpectClean(size_t outcomes) const;

    std::mt19937& Random() { return m_random; }
    int Faults() const { return m_faults; }
    size_t Outcomes() const { return m_outcomes.size(); }

private:
    std::string m_reader;
    std::mt19937 m_random;
    int m_inputs;
    int m_faults = 0;
    std::set<std::string> m_outcomes;
    std::string m_input; // the latest one, printable
};

// The mutations on their own, for inputs that are parts of a larger one.
std::string MutateBytes(std::string bytes, std::mt19937& random);
std::string MutateJson(std::string json, std::mt19937& random);
std::wstring MutateText(std::wstring text, std::mt19937& random);
// UTF-16 text as a fault shows it: \uNNNN for what is not printable ASCII, cut after about 400 characters.
std::string Printable(const std::wstring& text);
