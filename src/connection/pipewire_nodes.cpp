#include "pipewire_nodes.h"

#include <pipewire/pipewire.h>

#include <cstring>
#include <map>
#include <utility>

namespace {
class Nodes : public PipeWireNodes {
  public:
    explicit Nodes(Ran ran) : ran_(std::move(ran)) {}

    ~Nodes() override {
        if (loop_) pw_thread_loop_stop(loop_); // no callback runs from here on
        for (auto& [id, n] : nodes_)
            forget(*n);
        if (registry_) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
        if (core_) pw_core_disconnect(core_);
        if (context_) pw_context_destroy(context_);
        if (loop_) pw_thread_loop_destroy(loop_);
    }

    bool start() {
        pw_init(nullptr, nullptr);
        if (!(loop_ = pw_thread_loop_new("zu-pipewire", nullptr))) return false;
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (!context_ || !(core_ = pw_context_connect(context_, nullptr, 0))) return false;
        registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
        static const pw_registry_events events{PW_VERSION_REGISTRY_EVENTS, onGlobal, onRemoved};
        pw_registry_add_listener(registry_, &registryHook_, &events, this);
        return pw_thread_loop_start(loop_) == 0;
    }

  private:
    struct Node {
        Nodes* nodes;
        std::string name;
        pw_proxy* proxy;
        spa_hook hook;
        bool jack = false, running = false, ranBefore = false;
    };

    static void forget(Node& n) {
        spa_hook_remove(&n.hook);
        pw_proxy_destroy(n.proxy);
    }

    static void onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                         const spa_dict* props) {
        auto* self = static_cast<Nodes*>(data);
        const char* name = props ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
        if (strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !name) return;
        auto n = std::make_unique<Node>(Node{self, name, nullptr, {}});
        n->proxy =
            static_cast<pw_proxy*>(pw_registry_bind(self->registry_, id, type, PW_VERSION_NODE, 0));
        if (!n->proxy) return;
        static const pw_node_events events{PW_VERSION_NODE_EVENTS, onInfo, nullptr};
        pw_proxy_add_object_listener(n->proxy, &n->hook, &events, n.get());
        self->nodes_[id] = std::move(n);
    }

    static void onRemoved(void* data, uint32_t id) {
        auto* self = static_cast<Nodes*>(data);
        auto it = self->nodes_.find(id);
        if (it == self->nodes_.end()) return;
        forget(*it->second);
        self->nodes_.erase(it);
    }

    // Only JACK's clients: another node may stop running when it loses its last link.
    // A node's first run is a client coming, which libjack tells itself.
    static void onInfo(void* data, const pw_node_info* info) {
        auto* n = static_cast<Node*>(data);
        const char* api = info->props ? spa_dict_lookup(info->props, PW_KEY_CLIENT_API) : nullptr;
        if (api) n->jack = strcmp(api, "jack") == 0;
        bool running = info->state == PW_NODE_STATE_RUNNING;
        if (!(info->change_mask & PW_NODE_CHANGE_MASK_STATE) || running == n->running) return;
        n->running = running;
        if (n->jack && std::exchange(n->ranBefore, true)) n->nodes->ran_(n->name, running);
    }

    Ran ran_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_registry* registry_ = nullptr;
    spa_hook registryHook_{};
    std::map<uint32_t, std::unique_ptr<Node>> nodes_;
};
} // namespace

std::unique_ptr<PipeWireNodes> watchPipeWireNodes(PipeWireNodes::Ran ran) {
    auto nodes = std::make_unique<Nodes>(std::move(ran));
    if (!nodes->start()) return nullptr;
    return nodes;
}
