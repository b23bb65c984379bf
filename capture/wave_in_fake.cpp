#include "capture/wave_in_fake.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace wave;

namespace {

// The device table of this fake "system": the one device the wave:: functions act on. Tests
// install a fresh FakeWaveIn each time, so no state leaks from one test into the next.
FakeWaveIn* installed = nullptr;

using Guard = std::unique_lock<std::mutex>;

FakeWaveIn* FakeOf(HWAVEIN device) {
    auto* fake = reinterpret_cast<FakeWaveIn*>(device);
    if (fake == nullptr || fake != installed) return nullptr;
    return fake;
}

bool Holds(const std::deque<WAVEHDR*>& list, const WAVEHDR* header) {
    return std::find(list.begin(), list.end(), header) != list.end();
}

bool InUse(const FakeWaveIn& fake, const WAVEHDR* header) {
    return Holds(fake.queue, header) || Holds(fake.returned, header) || fake.completing == header;
}

bool OnWorker(const FakeWaveIn& fake) {
    return std::this_thread::get_id() == fake.worker.get_id();
}

MMRESULT Record(FakeWaveIn& fake, FakeCall call, WAVEHDR* header, MMRESULT result, bool inUse) {
    fake.calls.push_back(FakeCallRecord{call, header, result, inUse, OnWorker(fake)});
    return result;
}

// Calls the routine with the lock released, as a driver would.
void CallRoutine(FakeWaveIn& fake, Guard& guard, UINT message, WAVEHDR* header) {
    const auto routine = reinterpret_cast<WaveInProc>(fake.callback);
    guard.unlock();
    routine(reinterpret_cast<HWAVEIN>(&fake), message, fake.instance,
            reinterpret_cast<DWORD_PTR>(header), 0);
    guard.lock();
}

// One WIM_DATA for `header`, which has already left the queue.
void Complete(FakeWaveIn& fake, Guard& guard, WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    fake.completing = header;
    Record(fake, FakeCall::Completion, header, MMSYSERR_NOERROR, true);
    fake.changed.notify_all();
    if (fake.completionDelayMs > 0) {
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(fake.completionDelayMs));
        guard.lock();
    }
    CallRoutine(fake, guard, WIM_DATA, header);
    Record(fake, FakeCall::CompletionEnd, header, MMSYSERR_NOERROR, true);
    fake.completing = nullptr;
    fake.changed.notify_all();
}

void Serve(FakeWaveIn& fake, Guard& guard, const FakeWaveIn::Request& request) {
    if (!request.data) {
        CallRoutine(fake, guard, request.message, nullptr);
        return;
    }
    if (!fake.started || fake.queue.empty()) return;
    WAVEHDR* header = fake.queue.front();
    fake.queue.pop_front();
    const size_t copy =
        std::min<size_t>(request.samples.size() * sizeof(int16_t), header->dwBufferLength);
    std::memcpy(header->lpData, request.samples.data(), copy);
    header->dwBytesRecorded = request.bytes;
    Complete(fake, guard, header);
}

void Work(FakeWaveIn& fake) {
    Guard guard(fake.lock);
    CallRoutine(fake, guard, WIM_OPEN, nullptr);
    for (;;) {
        fake.changed.wait(guard, [&] {
            return fake.closing || !fake.returned.empty() || !fake.requests.empty();
        });
        if (!fake.returned.empty()) {
            WAVEHDR* header = fake.returned.front();
            fake.returned.pop_front();
            Complete(fake, guard, header);
        } else if (!fake.requests.empty()) {
            const FakeWaveIn::Request request = std::move(fake.requests.front());
            fake.requests.pop_front();
            Serve(fake, guard, request);
            ++fake.served;
            fake.changed.notify_all();
        } else {
            break;  // closing, and everything given back has been completed
        }
    }
    CallRoutine(fake, guard, WIM_CLOSE, nullptr);
}

uint64_t Enqueue(FakeWaveIn& fake, FakeWaveIn::Request request) {
    fake.requests.push_back(std::move(request));
    fake.changed.notify_all();
    return ++fake.requested;
}

// The stopping rule of wave_in.h: a completion under way finishes before stop or reset returns,
// unless they are called from inside it.
void WaitOutCompletion(FakeWaveIn& fake, Guard& guard) {
    if (OnWorker(fake)) return;
    fake.changed.wait(guard, [&] { return fake.completing == nullptr; });
}

void GiveBackQueued(FakeWaveIn& fake) {
    fake.returned.insert(fake.returned.end(), fake.queue.begin(), fake.queue.end());
    fake.queue.clear();
    fake.changed.notify_all();
}

}  // namespace

void InstallFake(FakeWaveIn& fake) {
    installed = &fake;
}

bool DeliverData(FakeWaveIn& fake, uint32_t bytes, const std::vector<int16_t>& samples) {
    Guard guard(fake.lock);
    if (!fake.open) return false;
    const auto before = static_cast<std::ptrdiff_t>(fake.calls.size());
    const uint64_t ticket = Enqueue(fake, FakeWaveIn::Request{true, bytes, 0, samples});
    fake.changed.wait(guard, [&] { return fake.served >= ticket; });
    return std::any_of(fake.calls.begin() + before, fake.calls.end(),
                       [](const FakeCallRecord& r) { return r.call == FakeCall::CompletionEnd; });
}

void DeliverMessage(FakeWaveIn& fake, UINT message) {
    Guard guard(fake.lock);
    if (!fake.open) return;
    const uint64_t ticket = Enqueue(fake, FakeWaveIn::Request{false, 0, message, {}});
    fake.changed.wait(guard, [&] { return fake.served >= ticket; });
}

void WaitForCompletionUnderWay(FakeWaveIn& fake) {
    Guard guard(fake.lock);
    fake.changed.wait(guard, [&] { return fake.completing != nullptr; });
}

namespace wave {

MMRESULT waveInOpen(HWAVEIN* device, UINT, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    FakeWaveIn& fake = *installed;
    Guard guard(fake.lock);
    *device = nullptr;
    fake.openedFormat = *format;
    fake.openFlags = flags;
    if (fake.openResult != MMSYSERR_NOERROR)
        return Record(fake, FakeCall::Open, nullptr, fake.openResult, false);
    if (flags != CALLBACK_FUNCTION)
        return Record(fake, FakeCall::Open, nullptr, MMSYSERR_INVALPARAM, false);
    fake.callback = callback;
    fake.instance = instance;
    fake.open = true;
    *device = reinterpret_cast<HWAVEIN>(&fake);
    fake.worker = std::thread(Work, std::ref(fake));
    return Record(fake, FakeCall::Open, nullptr, MMSYSERR_NOERROR, false);
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    header->dwFlags |= WHDR_PREPARED;
    return Record(*fake, FakeCall::Prepare, header, MMSYSERR_NOERROR, InUse(*fake, header));
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    if (InUse(*fake, header))
        return Record(*fake, FakeCall::Unprepare, header, WAVERR_STILLPLAYING, true);
    header->dwFlags &= ~WHDR_PREPARED;
    return Record(*fake, FakeCall::Unprepare, header, MMSYSERR_NOERROR, false);
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    const bool queued = Holds(fake->queue, header);
    if ((header->dwFlags & WHDR_PREPARED) == 0)
        return Record(*fake, FakeCall::AddBuffer, header, WAVERR_UNPREPARED, queued);
    if (queued || fake->closing)
        return Record(*fake, FakeCall::AddBuffer, header, MMSYSERR_INVALPARAM, queued);
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    fake->queue.push_back(header);
    return Record(*fake, FakeCall::AddBuffer, header, MMSYSERR_NOERROR, false);
}

MMRESULT waveInStart(HWAVEIN device) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    fake->started = true;
    return Record(*fake, FakeCall::Start, nullptr, MMSYSERR_NOERROR, false);
}

MMRESULT waveInStop(HWAVEIN device) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    fake->started = false;
    WaitOutCompletion(*fake, guard);
    return Record(*fake, FakeCall::Stop, nullptr, MMSYSERR_NOERROR, false);
}

MMRESULT waveInReset(HWAVEIN device) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    fake->started = false;
    WaitOutCompletion(*fake, guard);
    if (!fake->holdBuffersOnReset) GiveBackQueued(*fake);
    return Record(*fake, FakeCall::Reset, nullptr, MMSYSERR_NOERROR, false);
}

MMRESULT waveInClose(HWAVEIN device) {
    FakeWaveIn* fake = FakeOf(device);
    if (fake == nullptr) return MMSYSERR_INVALHANDLE;
    Guard guard(fake->lock);
    const bool holding =
        !fake->queue.empty() || !fake->returned.empty() || fake->completing != nullptr;
    Record(*fake, FakeCall::Close, nullptr, MMSYSERR_NOERROR, holding);
    fake->started = false;
    fake->closing = true;
    GiveBackQueued(*fake);
    guard.unlock();
    fake->worker.join();
    guard.lock();
    fake->open = false;
    return MMSYSERR_NOERROR;
}

}  // namespace wave
