#include "behaviortree_cpp/bt_factory.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>

#include "xml_tree_builder.h"

namespace BT {

struct BehaviorTreeFactory::Registry {
  std::unordered_map<std::string, NodeBuilder> builders;
  std::unordered_map<std::string, TreeNodeManifest> manifests;
  std::set<std::string> builtin_IDs;
};

BehaviorTreeFactory::BehaviorTreeFactory() : registry_(std::make_unique<Registry>()) {
  registerBuiltin<SequenceNode>("Sequence");
  registerBuiltin<FallbackNode>("Fallback");
  registerBuiltin<ReactiveSequence>("ReactiveSequence");
  registerBuiltin<AlwaysSuccessNode>("AlwaysSuccess");
  registerBuiltin<AlwaysFailureNode>("AlwaysFailure");
  registerBuiltin<SubTreeNode>("SubTree");
}

BehaviorTreeFactory::~BehaviorTreeFactory() = default;
BehaviorTreeFactory::BehaviorTreeFactory(BehaviorTreeFactory&&) noexcept = default;
BehaviorTreeFactory& BehaviorTreeFactory::operator=(BehaviorTreeFactory&&) noexcept = default;

template <typename T>
void BehaviorTreeFactory::registerBuiltin(const std::string& ID) {
  registerNodeType<T>(ID);
  registry_->builtin_IDs.insert(ID);
}

void BehaviorTreeFactory::registerBuilder(const TreeNodeManifest& manifest,
                                          const NodeBuilder& builder) {
  const std::string& ID = manifest.registration_ID;
  if (registry_->builders.count(ID) != 0) {
    throw BehaviorTreeException("ID [", ID, "] already registered");
  }
  registry_->builders.emplace(ID, builder);
  registry_->manifests.emplace(ID, manifest);
}

void BehaviorTreeFactory::registerSimpleAction(const std::string& ID,
                                               const SimpleActionNode::TickFunctor& tick_functor,
                                               PortsList ports) {
  NodeBuilder builder = [tick_functor](const std::string& name, const NodeConfig& config) {
    return std::make_unique<SimpleActionNode>(name, tick_functor, config);
  };
  registerBuilder(TreeNodeManifest{NodeType::ACTION, ID, std::move(ports), {}}, builder);
}

void BehaviorTreeFactory::registerFromPlugin(const std::string& file_path) {
  // RTLD_NOW: a plugin with unresolved symbols fails here rather than at its first tick.
  void* handle = dlopen(file_path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    throw RuntimeError("Could not load library: ", error != nullptr ? error : file_path.c_str());
  }
  // The handle stays open: the registered builders point into the library.
  void* entry_point = dlsym(handle, PLUGIN_SYMBOL);
  if (entry_point == nullptr) {
    std::cout << "ERROR loading library [" << file_path << "]: can't find symbol [" << PLUGIN_SYMBOL
              << "]" << std::endl;
    return;
  }
  using RegisterFunction = void (*)(BehaviorTreeFactory&);
  reinterpret_cast<RegisterFunction>(entry_point)(*this);
}

std::unique_ptr<TreeNode> BehaviorTreeFactory::instantiateTreeNode(const std::string& name,
                                                                   const std::string& ID,
                                                                   const NodeConfig& config) const {
  const auto builder = registry_->builders.find(ID);
  if (builder == registry_->builders.end()) {
    std::cerr << ID << " not included in this list:" << std::endl;
    for (const auto& [registered_ID, unused] : registry_->builders) {
      std::cerr << registered_ID << std::endl;
    }
    throw RuntimeError("BehaviorTreeFactory: ID [", ID, "] not registered");
  }
  auto node = builder->second(name, config);
  node->setRegistrationID(ID);
  return node;
}

const std::unordered_map<std::string, NodeBuilder>& BehaviorTreeFactory::builders() const {
  return registry_->builders;
}

const std::unordered_map<std::string, TreeNodeManifest>& BehaviorTreeFactory::manifests() const {
  return registry_->manifests;
}

const std::set<std::string>& BehaviorTreeFactory::builtinNodes() const {
  return registry_->builtin_IDs;
}

Tree BehaviorTreeFactory::createTreeFromText(const std::string& text, Blackboard::Ptr blackboard) {
  tinyxml2::XMLDocument document;
  document.Parse(text.c_str(), text.size());
  return xml::buildMainTree(*this, document, blackboard);
}

Tree BehaviorTreeFactory::createTreeFromFile(const std::filesystem::path& file_path,
                                             Blackboard::Ptr blackboard) {
  tinyxml2::XMLDocument document;
  document.LoadFile(file_path.c_str());
  // The real parser keeps the file's folder, made absolute, to resolve <include> paths against.
  // A bare file name has an empty folder, which std::filesystem::absolute rejects there as here.
  (void)std::filesystem::absolute(file_path.parent_path());
  return xml::buildMainTree(*this, document, blackboard);
}

// ---------------------------------------------------------------------------
// Tree

Tree::~Tree() {
  haltTree();
}

void Tree::initialize() {
  wake_up_ = std::make_shared<WakeUpSignal>();
  for (const auto& subtree : subtrees) {
    for (const auto& node : subtree->nodes) {
      node->setWakeUpInstance(wake_up_);
      node->config().manifest = &manifests.at(node->registrationName());
    }
  }
}

TreeNode* Tree::rootNode() const {
  if (subtrees.empty() || subtrees.front()->nodes.empty()) {
    return nullptr;
  }
  return subtrees.front()->nodes.front().get();
}

Blackboard::Ptr Tree::rootBlackboard() {
  return subtrees.empty() ? nullptr : subtrees.front()->blackboard;
}

void Tree::haltTree() {
  TreeNode* root = rootNode();
  if (root == nullptr) {
    return;
  }
  root->haltNode();
  // Well-behaved controls already halted their children; this catches the others.
  for (const auto& subtree : subtrees) {
    for (const auto& node : subtree->nodes) {
      node->haltNode();
    }
  }
  root->resetStatus();
}

NodeStatus Tree::tickOnce() {
  return tickRoot(TickOption::ONCE_UNLESS_WOKEN_UP, std::chrono::milliseconds(0));
}

NodeStatus Tree::tickExactlyOnce() {
  return tickRoot(TickOption::EXACTLY_ONCE, std::chrono::milliseconds(0));
}

NodeStatus Tree::tickWhileRunning(std::chrono::milliseconds sleep_time) {
  return tickRoot(TickOption::WHILE_RUNNING, sleep_time);
}

bool Tree::sleep(std::chrono::system_clock::duration timeout) {
  return wake_up_->waitFor(std::chrono::duration_cast<std::chrono::milliseconds>(timeout));
}

NodeStatus Tree::tickRoot(TickOption option, std::chrono::milliseconds sleep_time) {
  TreeNode* root = rootNode();
  if (root == nullptr) {
    throw RuntimeError("Empty Tree");
  }
  if (!wake_up_) {
    initialize();
  }
  NodeStatus status = NodeStatus::IDLE;
  while (status == NodeStatus::IDLE ||
         (option == TickOption::WHILE_RUNNING && status == NodeStatus::RUNNING)) {
    status = root->executeTick();
    while (option != TickOption::EXACTLY_ONCE && status == NodeStatus::RUNNING &&
           wake_up_->waitFor(std::chrono::microseconds(0))) {
      status = root->executeTick();
    }
    // A finished root starts afresh on the next tick.
    if (isStatusCompleted(status)) {
      root->resetStatus();
    }
    if (status == NodeStatus::RUNNING && sleep_time.count() > 0) {
      sleep(sleep_time);
    }
  }
  return status;
}

}  // namespace BT
