// SPDX-License-Identifier: GPL-3.0-or-later
// The receive path's cost by buffer size: rendering and decoding a whole
// buffer, and one more arrival on a buffer of that size.

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "core/exchange.h"
#include "core/monitor_text.h"
#include "core/panel_state.h"
#include "core/reply_decoders.h"
#include "core/view.h"
#include "serial_double.h"
#include "timers/virtual_clock.h"

namespace {

// Keeps only the latest caption of each line, as a window does.
class LatestView : public View {
public:
    void setCaption(std::string_view control, std::string_view text) override
    {
        (control == "Label12" ? rxd : status) = text;
    }
    void setVisible(std::string_view, bool) override { }
    std::string text(std::string_view) const override { return {}; }
    void setText(std::string_view, std::string_view) override { }
    void setSelected(std::string_view) override { }
    void setLineState(std::string_view) override { }
    std::string rxd;
    std::string status;
};

std::string randomBytes(std::size_t size)
{
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Render the whole buffer and run the costliest decoder (PC type copies it all).
void RenderAndDecode(benchmark::State &state)
{
    const std::string buffer = randomBytes(static_cast<std::size_t>(state.range(0)));
    std::int16_t pressure = 0;
    for (auto _ : state) {
        const std::string monitor = monitorText(buffer);
        auto status = decodeStatus(StatusQuery::CR9, monitor, pressure);
        benchmark::DoNotOptimize(status);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One 16-byte arrival through Hyouji onto a buffer of the given size.
void ArrivalOnBuffer(benchmark::State &state)
{
    PanelState panel;
    SerialDouble serial;
    LatestView view;
    VirtualClock clock;
    auto timer2 = clock.createTimer(500);
    auto timer4 = clock.createTimer(1000);
    Exchange exchange(panel, serial, view, *timer2, *timer4);
    panel.commandText = "CR9\r";
    const std::string base = randomBytes(static_cast<std::size_t>(state.range(0)));
    const std::string arrival = randomBytes(16);
    for (auto _ : state) {
        state.PauseTiming();
        panel.receiveBuffer = base;
        exchange.Hyouji(panel.receiveBuffer, kReceive);
        panel.receiveBuffer += arrival;
        state.ResumeTiming();
        exchange.Hyouji(panel.receiveBuffer, kReceive);
    }
}

BENCHMARK(RenderAndDecode)
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Arg(8192)
    ->Arg(16384)
    ->Arg(32767)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ArrivalOnBuffer)
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Arg(8192)
    ->Arg(16384)
    ->Arg(32767)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
