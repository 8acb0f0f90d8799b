// The program's own cost per board request, and read-back and sweep costs on the simulated board.

#include <benchmark/benchmark.h>

#include "adapter/simulated/SimulatedBoard.h"
#include "adapter/tracing/TracingAdapter.h"
#include "board/BoardRequests.h"
#include "board/RegisterAccess.h"
#include "board/UsbStuff.h"
#include "core/DeviceState.h"

namespace {

// An adapter that does nothing: the baseline of a bare request.
class NullAdapter : public tq::Adapter {
public:
    int32_t Search_For_Boards(int32_t, int32_t, int32_t* count, uint8_t* list) override {
        *count = 1;
        list[0] = 0;
        return 0;
    }
    int32_t Connect(int32_t, int32_t, uint8_t, int32_t* handle) override {
        *handle = 1;
        return 0;
    }
    int32_t Download_Firmware(int32_t, const uint8_t*) override { return 0; }
    int32_t Vendor_Request(int32_t, uint8_t, int32_t, int32_t, uint8_t, int32_t length,
                           uint8_t*) override {
        return length;
    }
};

class PulseHooks : public tq::RegisterHooks {
public:
    bool PulseAfterDataWrite() const override { return true; }
    void ShowReadWrite(int16_t) override {}
};

void BareVendorRequest(benchmark::State& st) {
    NullAdapter adapter;
    tq::Adapter& a = adapter;
    uint8_t dummy = 0;
    int32_t data = 0;
    for (auto _ : st) {
        benchmark::DoNotOptimize(a.Vendor_Request(1, 0xD9, 0x10, data, 0, 0, &dummy));
        data = (data + 1) & 0xFFFF;
    }
}
BENCHMARK(BareVendorRequest);

void WriteRegisterWholeStack(benchmark::State& st) {
    NullAdapter adapter;
    tq::DeviceState state;
    tq::ApplyStartDefaults(state);
    tq::BoardRequests requests(state, adapter);
    tq::RegisterAccess registers(state, requests);
    PulseHooks hooks;
    registers.SetHooks(&hooks);
    int32_t data = 0;
    for (auto _ : st) {
        registers.WriteRegister(0, 2, data);
        data = (data + 1) & 0xFFFF;
    }
}
BENCHMARK(WriteRegisterWholeStack);

struct SimulatedStack {
    tq::SimulatedBoard board;
    tq::TracingAdapter trace{board};
    tq::DeviceState state;
    tq::BoardRequests requests{state, trace};
    tq::RegisterAccess registers{state, requests};
    SimulatedStack() {
        tq::ApplyStartDefaults(state);
        tq::ConnectBoard(state, trace, TQ_FIRMWARE_FOLDER);
    }
};

void ReadRegisterSimulated(benchmark::State& st) {
    SimulatedStack s;
    for (auto _ : st)
        benchmark::DoNotOptimize(s.registers.ReadRegister(0, 2));
    std::size_t dropped = 0;
    s.trace.TakeLines(dropped);
}
BENCHMARK(ReadRegisterSimulated);

// A sweep of n codes through one channel's data register: time grows linearly with n, and the
// trace keeps a bounded history, so memory does not grow.
void DataRegisterSweep(benchmark::State& st) {
    SimulatedStack s;
    const auto codes = static_cast<int32_t>(st.range(0));
    for (auto _ : st)
        for (int32_t c = 0; c < codes; ++c)
            s.registers.WriteRegister(0, 2, c);
    st.SetComplexityN(st.range(0));
    st.SetItemsProcessed(st.iterations() * codes);
}
BENCHMARK(DataRegisterSweep)->RangeMultiplier(4)->Range(1024, 65536)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
