#include "objects/PointStream.h"

#include "formats/HttpRangeReader.h"
#include "math/Messages.h"
#include "math/Parallel.h"
#include "objects/Answering.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

size_t PointStream::Node::bytes() const
{
    size_t b = sizeof(Node) + xyz.capacity() * sizeof(float) + rgb.capacity() + mapped.capacity() +
               (shown.capacity() + marked.capacity()) * sizeof(uint32_t) + masks.bytes();
    for (const std::vector<float> &v : values)
        b += v.capacity() * sizeof(float);
    return b;
}

PointStream::PointStream(std::shared_ptr<PointTiles> t, unsigned threads, Prepare p)
    : tiles(std::move(t)), prepare(std::move(p))
{
    nodes.resize(tiles->nodes().size());
    state.assign(nodes.size(), Absent);
    for (unsigned k = 0; k < std::max(1u, threads); ++k)
        workers.emplace_back([this] { work(); });
}

PointStream::~PointStream()
{
    // A worker waiting for a slow server ends now, not when its node has come.
    tiles->cancel();
    {
        std::lock_guard<std::mutex> hold(lock);
        stop = true;
        queue.clear();
    }
    wake.notify_all();
    workers.clear();
}

std::unique_ptr<PointStream::Node> PointStream::make(int i)
{
    PointListData d = tiles->load(static_cast<size_t>(i));
    auto n = std::make_unique<Node>();
    double side;
    tiles->cubeOf(static_cast<size_t>(i), n->centre, side);
    for (double &c : n->centre)
        c += side / 2;
    n->count = static_cast<size_t>(d.nPoints);
    n->las = d.las;
    n->xyz.resize(3 * n->count);
    for (size_t p = 0; p < 3 * n->count; ++p)
        n->xyz[p] = static_cast<float>(d.points[p] + (d.origin[p % 3] - n->centre[p % 3]));
    if (d.colors)
        n->rgb.assign(d.colors.get(), d.colors.get() + 3 * n->count);
    for (const PointValueItem &item : d.items)
        n->values.emplace_back(item.values.get(), item.values.get() + n->count);
    if (prepare)
        prepare(*n);
    return n;
}

void PointStream::work()
{
    for (;;) {
        int i;
        {
            std::unique_lock<std::mutex> hold(lock);
            wake.wait(hold, [this] { return stop || !queue.empty(); });
            if (stop)
                return;
            i = queue.front();
            queue.pop_front();
            state[static_cast<size_t>(i)] = Reading;
        }
        std::unique_ptr<Node> n;
        std::string why;
        try {
            n = make(i);
        } catch (const std::exception &e) {
            why = e.what();
        }
        {
            std::lock_guard<std::mutex> hold(lock);
            if (stop)
                return; // the stream goes: what failed on the way was cancelled
            if (n) {
                came.push_back({i, std::move(n)});
                state[static_cast<size_t>(i)] = Arrived;
            } else {
                state[static_cast<size_t>(i)] = Failed;
            }
        }
        // A node that can't be read is left out of the view, once, with the reason.
        if (!why.empty())
            msg::warning("GLPointStreamObject: %s: %s\n", tiles->path().c_str(), why.c_str());
        *arrived = true;
    }
}

void PointStream::want(const std::vector<int> &wanted)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        for (int i : queue)
            state[static_cast<size_t>(i)] = Absent;
        queue.clear();
        for (int i : wanted)
            if (i >= 0 && static_cast<size_t>(i) < state.size() && state[static_cast<size_t>(i)] == Absent) {
                state[static_cast<size_t>(i)] = Queued;
                queue.push_back(i);
            }
    }
    wake.notify_all();
}

std::vector<int> PointStream::takeArrived()
{
    std::vector<std::pair<int, std::unique_ptr<Node>>> taken;
    {
        std::lock_guard<std::mutex> hold(lock);
        *arrived = false;
        taken.swap(came);
        for (auto &[i, n] : taken)
            state[static_cast<size_t>(i)] = nodes[static_cast<size_t>(i)] ? Resident : Absent;
    }
    std::vector<int> added;
    for (auto &[i, n] : taken) {
        // Read twice (a capture read it meanwhile): the one in memory stays.
        if (nodes[static_cast<size_t>(i)])
            continue;
        n->counted = n->bytes();
        held += n->counted;
        ++count;
        nodes[static_cast<size_t>(i)] = std::move(n);
        std::lock_guard<std::mutex> hold(lock);
        state[static_cast<size_t>(i)] = Resident;
        added.push_back(i);
    }
    return added;
}

void PointStream::loadNow(const std::vector<int> &wanted, const std::function<bool(uint64_t)> &answer)
{
    std::vector<int> missing;
    for (int i : wanted)
        if (!resident(i) && !hasFailed(i))
            missing.push_back(i);
    if (missing.empty())
        return;
    std::vector<std::unique_ptr<Node>> read(missing.size());
    std::vector<std::string> why(missing.size());
    std::atomic<bool> stopped{false};
    std::atomic<uint64_t> points{0};
    const auto readAll = [&] {
        Parallel::split(missing.size(), 0, [&](unsigned, size_t begin, size_t end) {
            // A stop ends the transfers under way too.
            const HttpRangeReader::StopScope scope(&stopped);
            for (size_t k = begin; k < end && !stopped; ++k)
                try {
                    read[k] = make(missing[k]);
                    points += read[k]->count;
                } catch (const std::exception &e) {
                    why[k] = e.what();
                }
        });
    };
    if (!answer)
        readAll();
    else
        runAnswering(
            readAll, [&] { return answer(points); }, [&] { stopped = true; });
    for (size_t k = 0; k < missing.size(); ++k) {
        const size_t i = static_cast<size_t>(missing[k]);
        std::lock_guard<std::mutex> hold(lock);
        if (!read[k]) {
            if (why[k].empty() || stopped)
                continue; // not started, or ended by the stop: read again when next wanted
            state[i] = Failed;
            msg::warning("GLPointStreamObject: %s: %s\n", tiles->path().c_str(), why[k].c_str());
            continue;
        }
        read[k]->counted = read[k]->bytes();
        held += read[k]->counted;
        ++count;
        nodes[i] = std::move(read[k]);
        // A worker reading it now hands in a copy that takeArrived drops.
        if (state[i] != Reading)
            state[i] = Resident;
    }
    if (stopped)
        throw std::runtime_error("cancelled");
}

void PointStream::evict(size_t budget, uint64_t keep)
{
    // A node grows after it came (the masks of new rules, the points it draws, its colours
    // through a colour map): what it holds now is what counts.
    held = 0;
    for (const std::unique_ptr<Node> &n : nodes)
        if (n)
            held += n->counted = n->bytes();
    if (held <= budget)
        return;
    std::vector<std::pair<uint64_t, int>> old;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i] && nodes[i]->drawn < keep)
            old.push_back({nodes[i]->drawn, static_cast<int>(i)});
    std::sort(old.begin(), old.end());
    for (const auto &[drawn, i] : old) {
        if (held <= budget)
            break;
        held -= nodes[static_cast<size_t>(i)]->counted;
        --count;
        nodes[static_cast<size_t>(i)].reset();
        std::lock_guard<std::mutex> hold(lock);
        state[static_cast<size_t>(i)] = Absent;
    }
}

size_t PointStream::pending()
{
    std::lock_guard<std::mutex> hold(lock);
    return static_cast<size_t>(std::count_if(state.begin(), state.end(),
                                             [](State s) { return s == Queued || s == Reading; }));
}

bool PointStream::hasFailed(int i)
{
    std::lock_guard<std::mutex> hold(lock);
    return i >= 0 && static_cast<size_t>(i) < state.size() && state[static_cast<size_t>(i)] == Failed;
}
