#pragma once
// Converts 16-bit interleaved frames from one rate to another with a
// Kaiser-windowed sinc filter cut off below the lower of the two Nyquist
// frequencies. A run treats what lies before its first frame and after its
// last one as silence, so a run of n frames gives exactly OutputFrames(n)
// frames, output frame k standing at input frame k * in / out.
#include <cstdint>
#include <vector>

class Resampler {
public:
    // ceil(frames * out / in).
    static uint64_t OutputFrames(uint64_t frames, uint32_t in_rate, uint32_t out_rate);

    // Starts a run. A run that begins part-way (after a seek) names the
    // output frame it is to give next; it returns the input frame that the
    // first pushed frame is to be (the first one that output frame reads),
    // the input before that counting as silence.
    uint64_t Start(uint32_t in_rate, uint32_t out_rate, uint64_t next_output = 0);

    // Takes frames of 1 or 2 channels and appends the output frames they
    // complete. A change of channel count drops the frames held so far.
    void Push(const int16_t* in, uint32_t frames, int channels, std::vector<int16_t>& out);
    // Ends the run: appends the output frames still owed.
    void Finish(std::vector<int16_t>& out);

private:
    // The first input frame that output frame k reads.
    uint64_t FirstInputFor(uint64_t output_frame) const;
    // The taps of an output frame standing offset / out_rate_ past an
    // input frame.
    void FillWeights(uint32_t offset, float* weights) const;
    void Emit(bool finishing, std::vector<int16_t>& out);

    uint32_t in_rate_ = 0;
    uint32_t out_rate_ = 0;
    float scale_ = 1.0f;      // out / in, at most 1: the kernel's width and gain
    int64_t half_width_ = 0;  // taps on each side of an output frame, in input frames
    int channels_ = 0;
    uint64_t next_ = 0;        // the next output frame
    uint64_t held_first_ = 0;  // input frame of held_[0]
    std::vector<int16_t> held_;
    // gcd(in, out) when weights_ holds the taps of every place an output
    // frame can stand (place offset / phase_step_ at that times the taps),
    // else 0 and weights_ the taps of one frame.
    uint32_t phase_step_ = 0;
    std::vector<float> weights_;
};
