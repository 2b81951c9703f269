#ifndef VELMORA_POINTSTREAM_H
#define VELMORA_POINTSTREAM_H

#include "formats/PointTiles.h"
#include "math/JoiningThread.h"
#include "objects/RuleSelection.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

/// The nodes of a point hierarchy (PointTiles) that are in memory, and the worker threads that
/// read the others when they are asked for. Everything but the workers runs on one thread (the
/// one that draws): it says which nodes it wants, most wanted first, takes those that arrived,
/// and lets the least recently drawn ones go when more bytes are held than its budget. It never
/// waits for a node, except through loadNow.
class PointStream {
public:
    /// One node in memory: its points relative to its cube's centre (floats keep their
    /// precision whatever the cloud's coordinates), its own colours, its values.
    struct Node {
        double centre[3] = {0, 0, 0};
        size_t count = 0;
        std::vector<float> xyz;
        std::vector<unsigned char> rgb;          ///< 3 a point, empty without colours
        std::vector<std::vector<float>> values;  ///< one array per item of the hierarchy
        std::vector<unsigned char> mapped;       ///< the values shown, through the colour map
        uint64_t mappedFor = 0;                  ///< the colouring `mapped` holds (0: none)
        uint64_t drawn = 0;                      ///< the last frame that drew it
        LasScaling las;                          ///< the scale and offset of a LAS node's file
        RuleSelection::Masks masks;              ///< the selection and edits of its points
        std::vector<uint32_t> shown, marked;     ///< with edits: the points drawn, and marked
        size_t counted = 0;                      ///< its bytes as the budget counts them
        /// Its bytes now (the masks of rules added after it came included).
        size_t bytes() const;
    };

    /// Called on the thread that read a node, before the node is handed in (a selection's
    /// masks are decided there, off the drawing thread).
    using Prepare = std::function<void(Node &)>;
    /// `threads` workers read nodes (more than the cores pays for nodes on a web server,
    /// which mostly wait).
    PointStream(std::shared_ptr<PointTiles> tiles, unsigned threads, Prepare prepare = nullptr);
    ~PointStream();
    PointStream(const PointStream &) = delete;
    PointStream &operator=(const PointStream &) = delete;

    /// Asks for `nodes`, most wanted first, instead of the nodes asked for before and not yet
    /// started (those under way go on). Nodes in memory, or that failed, are skipped.
    void want(const std::vector<int> &nodes);
    /// Moves the nodes read since the last call into memory; returns those that came.
    std::vector<int> takeArrived();
    /// Reads the nodes of `nodes` that are not in memory now, on every core, and waits. With
    /// `answer`, the wait calls it on this thread every 50 ms with the points read so far (a
    /// window's events are handled there, a redraw included, which must then leave the stream
    /// alone). Once it returns false no further node is started and the transfers under way
    /// end (HttpRangeReader::StopScope); the nodes that came whole are kept, the others are read
    /// again when next wanted, and "cancelled" is raised.
    void loadNow(const std::vector<int> &nodes, const std::function<bool(uint64_t)> &answer = nullptr);
    /// The node when it is in memory, else null.
    Node *resident(int i) { return i >= 0 && static_cast<size_t>(i) < nodes.size() ? nodes[i].get() : nullptr; }
    /// Lets the nodes least recently drawn go until at most `budget` bytes are held; nodes drawn
    /// at frame `keep` or later stay.
    void evict(size_t budget, uint64_t keep);
    /// The bytes of the nodes in memory as the last frame's evict counted them (with what
    /// they gained since they came), and those that came after it.
    size_t bytesResident() const { return held; }
    size_t nodesResident() const { return count; }
    /// Nodes asked for and not yet read (queued or being read).
    size_t pending();
    /// Set by a worker when a node arrives; the drawing thread clears it as it takes them.
    std::shared_ptr<std::atomic<bool>> arrivedFlag() const { return arrived; }
    bool hasFailed(int i);
    PointTiles &getTiles() { return *tiles; }

private:
    enum State : char { Absent, Queued, Reading, Arrived, Resident, Failed };
    void work();
    /// The node of a hierarchy's decoded points.
    std::unique_ptr<Node> make(int i);
    std::shared_ptr<PointTiles> tiles;
    Prepare prepare;
    std::vector<std::unique_ptr<Node>> nodes;
    size_t held = 0, count = 0;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<int> queue;
    std::vector<State> state;
    std::vector<std::pair<int, std::unique_ptr<Node>>> came;
    bool stop = false;
    std::shared_ptr<std::atomic<bool>> arrived = std::make_shared<std::atomic<bool>>(false);
    std::vector<JoiningThread> workers; ///< last: joined before the rest goes
};

#endif
