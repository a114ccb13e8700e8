#include "behaviortree_cpp/xml_parsing.h"

#include <tinyxml2.h>

#include <charconv>
#include <iostream>
#include <limits>
#include <map>
#include <set>

#include "xml_tree_builder.h"

namespace BT {

namespace {

using tinyxml2::XMLElement;

[[noreturn]] void throwAtLine(int line, const std::string& text) {
  throw RuntimeError("Error at line ", std::to_string(line), ": -> ", text);
}

std::string attributeOr(const XMLElement& element, const char* name, const std::string& fallback) {
  const char* value = element.Attribute(name);
  return value != nullptr ? value : fallback;
}

std::vector<const XMLElement*> childElements(const XMLElement& parent, const char* name = nullptr) {
  std::vector<const XMLElement*> children;
  for (auto* child = parent.FirstChildElement(name); child != nullptr;
       child = child->NextSiblingElement(name)) {
    children.push_back(child);
  }
  return children;
}

// Tags that name the node type in an ID attribute instead of the element name.
bool isGenericTag(StringView tag) {
  return tag == "Action" || tag == "Condition" || tag == "Control" || tag == "Decorator" ||
         tag == "SubTree";
}

std::string registrationID(const XMLElement& element) {
  const std::string tag = element.Name();
  if (!isGenericTag(tag)) {
    return tag;
  }
  const char* ID = element.Attribute("ID");
  if (ID == nullptr) {
    throwAtLine(element.GetLineNum(), "The tag <" + tag + "> must have the attribute [ID]");
  }
  return ID;
}

// "{...}" exactly, without trimming: what the factory treats as a blackboard reference.
bool isReferenceText(StringView text) {
  return text.size() >= 3 && text.front() == '{' && text.back() == '}';
}

// A SubTree names another tree of the document, which is checked as a tree of its own.
void validateSubTree(const XMLElement& element, const BehaviorTreeFactory& factory) {
  const std::string ID = registrationID(element);
  const int line = element.GetLineNum();
  if (!childElements(element).empty()) {
    throwAtLine(line, "<SubTree> with ID '" + ID + "' should not have any child");
  }
  if (factory.manifests().count(ID) != 0) {
    throwAtLine(line,
                "The attribute [ID] of tag <SubTree> must not use the name of a registered Node");
  }
}

void validateNode(const XMLElement& element, const BehaviorTreeFactory& factory) {
  if (StringView(element.Name()) == "SubTree") {
    validateSubTree(element, factory);
    return;
  }
  const std::string ID = registrationID(element);
  const auto manifest = factory.manifests().find(ID);
  const int line = element.GetLineNum();
  if (manifest == factory.manifests().end()) {
    throwAtLine(line, "Node not recognized: " + ID);
  }
  const auto children = childElements(element);
  const NodeType type = manifest->second.type;
  if ((type == NodeType::ACTION || type == NodeType::CONDITION) && !children.empty()) {
    throwAtLine(line, "The node '" + ID + "' must not have any child");
  }
  if (type == NodeType::CONTROL && children.empty()) {
    throwAtLine(line, "The node '" + ID + "' must have 1 or more children");
  }
  if (type == NodeType::DECORATOR && children.size() != 1) {
    throwAtLine(line, "The node '" + ID + "' must have exactly 1 child");
  }
  for (const auto* child : children) {
    validateNode(*child, factory);
  }
}

void validateTree(const XMLElement& tree, const BehaviorTreeFactory& factory, bool single_tree) {
  const int line = tree.GetLineNum();
  const char* ID = tree.Attribute("ID");
  if (ID == nullptr && !single_tree) {
    throwAtLine(line, "The tag <BehaviorTree> must have the attribute [ID]");
  }
  if (ID != nullptr && factory.manifests().count(ID) != 0) {
    throwAtLine(line,
                "The attribute [ID] of tag <BehaviorTree> must not use the name of a registered "
                "Node");
  }
  const auto children = childElements(tree);
  if (children.size() != 1) {
    throwAtLine(line, "The tag <BehaviorTree> with ID '" + attributeOr(tree, "ID", "") +
                          "' must have exactly 1 child");
  }
  validateNode(*children.front(), factory);
}

// Errors carry the line numbers of the document as printed back by tinyxml2, so validation
// runs on that copy.
void validateDocument(const tinyxml2::XMLDocument& document, const BehaviorTreeFactory& factory) {
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  tinyxml2::XMLDocument printed;
  printed.Parse(printer.CStr());
  const auto trees = childElements(*printed.RootElement(), "BehaviorTree");
  for (const auto* tree : trees) {
    validateTree(*tree, factory, trees.size() == 1);
  }
}

const XMLElement& checkedRoot(const tinyxml2::XMLDocument& document) {
  if (document.Error()) {
    throw RuntimeError("Error parsing the XML: ", document.ErrorStr());
  }
  const XMLElement* root = document.RootElement();
  if (root == nullptr || StringView(root->Name()) != "root") {
    throw RuntimeError("The XML must have a root node called <root>");
  }
  if (root->Attribute("BTCPP_format") == nullptr) {
    std::cout << "Warnings: The first tag of the XML (<root>) should contain the attribute "
                 "[BTCPP_format=\"4\"]\n"
              << "Please check if your XML is compatible with version 4.x of BT.CPP" << std::endl;
  }
  return *root;
}

const XMLElement& selectMainTree(const XMLElement& root) {
  const auto trees = childElements(root, "BehaviorTree");
  const char* main_ID = root.Attribute("main_tree_to_execute");
  if (main_ID == nullptr) {
    if (trees.size() != 1) {
      throw RuntimeError("[main_tree_to_execute] was not specified correctly");
    }
    return *trees.front();
  }
  for (const auto* tree : trees) {
    if (attributeOr(*tree, "ID", "") == main_ID) {
      return *tree;
    }
  }
  throw std::runtime_error(std::string("Can't find a tree with name: ") + main_ID);
}

// A SubTree's attribute that is no blackboard reference puts its value into the SubTree's
// blackboard: as int, int64_t or double when the whole text is such a number, else as text.
void setSubTreeConstant(Blackboard& blackboard, const std::string& key, const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (!text.empty() && text.find_first_of(".eE") == std::string::npos) {
    int64_t integer = 0;
    const auto [last, error] = std::from_chars(begin, end, integer);
    if (error == std::errc() && last == end) {
      if (integer >= std::numeric_limits<int>::min() &&
          integer <= std::numeric_limits<int>::max()) {
        blackboard.set(key, static_cast<int>(integer));
      } else {
        blackboard.set(key, integer);
      }
      return;
    }
  }
  double real = 0;
  const auto [last, error] = std::from_chars(begin, end, real);
  if (!text.empty() && error == std::errc() && last == end) {
    blackboard.set(key, real);
    return;
  }
  blackboard.set(key, text);
}

// Instantiates the nodes of the main tree and of its SubTrees depth first, parents before
// children; each SubTree on a blackboard of its own whose parent is the blackboard it sits in.
class TreeBuilder {
 public:
  TreeBuilder(const BehaviorTreeFactory& factory, const XMLElement& root, Tree& tree)
      : factory_(factory), root_(root), tree_(tree) {}

  // Builds the tree `tree_element` as the SubTree `instance_name` below `parent`, or as the
  // main tree when `parent` is null.
  void buildTree(const XMLElement& tree_element, const std::string& instance_name,
                 const Blackboard::Ptr& blackboard, TreeNode* parent) {
    const std::string tree_ID = attributeOr(tree_element, "ID", "");
    if (!ancestors_.insert(tree_ID).second) {
      throw RuntimeError("Recursive behavior tree cycle detected: tree '", tree_ID,
                         "' references itself (directly or indirectly)");
    }
    auto subtree = std::make_shared<Tree::Subtree>();
    subtree->blackboard = blackboard;
    subtree->instance_name = instance_name;
    subtree->tree_ID = tree_ID;
    tree_.subtrees.push_back(subtree);
    const std::string prefix = instance_name.empty() ? "" : instance_name + "/";
    build(*tree_element.FirstChildElement(), *subtree, prefix, parent);
    ancestors_.erase(tree_ID);
  }

 private:
  void build(const XMLElement& element, Tree::Subtree& subtree, const std::string& prefix,
             TreeNode* parent) {
    if (StringView(element.Name()) == "SubTree") {
      buildSubTree(element, subtree, prefix, parent);
      return;
    }
    const std::string ID = instantiationID(element);
    const TreeNodeManifest& manifest = factory_.manifests().at(ID);
    const std::string name = attributeOr(element, "name", ID);
    NodeConfig config = makeConfig(element, manifest, subtree.blackboard);
    config.path = nodePath(prefix, name, ID, config.uid);
    const auto node = TreeNode::Ptr(factory_.instantiateTreeNode(name, ID, config));
    adopt(subtree, node, parent);
    for (const auto* child : childElements(element)) {
      build(*child, subtree, prefix, node.get());
    }
  }

  void buildSubTree(const XMLElement& element, Tree::Subtree& subtree, const std::string& prefix,
                    TreeNode* parent) {
    const std::string ID = registrationID(element);
    const char* name_attribute = element.Attribute("name");
    const std::string name = name_attribute != nullptr ? name_attribute : ID;
    NodeConfig config;
    config.blackboard = subtree.blackboard;
    config.uid = next_uid_++;
    config.path = nodePath(prefix, name, ID, config.uid);
    for (const auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
      if (IsAllowedPortName(attribute->Name())) {
        config.input_ports[attribute->Name()] = attribute->Value();
      } else if (!IsReservedAttribute(attribute->Name())) {
        config.other_attributes[attribute->Name()] = attribute->Value();
      }
    }
    const auto node = TreeNode::Ptr(factory_.instantiateTreeNode(name, "SubTree", config));
    if (auto* subtree_node = dynamic_cast<SubTreeNode*>(node.get())) {
      subtree_node->setSubtreeID(ID);
    }
    adopt(subtree, node, parent);

    std::string instance_name = subtree.instance_name.empty() ? "" : subtree.instance_name + "/";
    instance_name += name_attribute != nullptr ? name : ID + "::" + std::to_string(config.uid);
    for (const auto& built : tree_.subtrees) {
      if (built->instance_name == instance_name) {
        throw RuntimeError("Duplicate SubTree path detected: '", instance_name,
                           "'. Multiple SubTree nodes with the same 'name' attribute under the "
                           "same parent are not allowed. Please use unique names or omit the "
                           "'name' attribute to auto-generate unique paths.");
      }
    }
    buildTree(treeElement(ID), instance_name, subTreeBlackboard(element, subtree.blackboard),
              node.get());
  }

  // Remapping attributes become remappings of the new blackboard, other values its entries.
  static Blackboard::Ptr subTreeBlackboard(const XMLElement& element,
                                           const Blackboard::Ptr& parent) {
    auto blackboard = Blackboard::create(parent);
    bool autoremap = false;
    for (const auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
      const std::string key = attribute->Name();
      std::string value = attribute->Value();
      if (value == "{=}") {
        value = "{" + key + "}";
      }
      if (key == "_autoremap") {
        autoremap = convertFromString<bool>(value);
        blackboard->enableAutoRemapping(autoremap);
      } else if (!IsAllowedPortName(key)) {
        continue;
      } else if (TreeNode::isBlackboardPointer(value)) {
        blackboard->addSubtreeRemapping(key, TreeNode::stripBlackboardPointer(value));
      } else {
        // A constant belongs to the SubTree even when the others are remapped automatically.
        blackboard->enableAutoRemapping(false);
        setSubTreeConstant(*blackboard, key, value);
        blackboard->enableAutoRemapping(autoremap);
      }
    }
    return blackboard;
  }

  const XMLElement& treeElement(const std::string& ID) const {
    for (const auto* tree : childElements(root_, "BehaviorTree")) {
      if (attributeOr(*tree, "ID", "") == ID) {
        return *tree;
      }
    }
    throw std::runtime_error(std::string("Can't find a tree with name: ") + ID);
  }

  static std::string nodePath(const std::string& prefix, const std::string& name,
                              const std::string& ID, uint16_t uid) {
    return prefix + (name == ID ? name + "::" + std::to_string(uid) : name);
  }

  static void adopt(Tree::Subtree& subtree, const TreeNode::Ptr& node, TreeNode* parent) {
    subtree.nodes.push_back(node);
    if (auto* control = dynamic_cast<ControlNode*>(parent)) {
      control->addChild(node.get());
    } else if (auto* decorator = dynamic_cast<DecoratorNode*>(parent)) {
      decorator->setChild(node.get());
    }
  }

  static std::string instantiationID(const XMLElement& element) {
    if (!isGenericTag(element.Name()) && element.Attribute("ID") != nullptr) {
      throw RuntimeError("Attribute [ID] is not allowed in <", element.Name(), ">");
    }
    return registrationID(element);
  }

  NodeConfig makeConfig(const XMLElement& element, const TreeNodeManifest& manifest,
                        const Blackboard::Ptr& blackboard) {
    NodeConfig config;
    config.blackboard = blackboard;
    config.manifest = &manifest;
    config.uid = next_uid_++;
    PortsRemapping remapping;
    for (auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
      const std::string key = attribute->Name();
      if (IsAllowedPortName(key)) {
        remapping[key] = checkedPortValue(element, manifest, key, attribute->Value());
      } else if (!IsReservedAttribute(key)) {
        config.other_attributes[key] = attribute->Value();
      }
    }
    for (const auto& [port_name, port] : manifest.ports) {
      const auto remapped = remapping.find(port_name);
      if (remapped == remapping.end()) {
        addDefault(config, port_name, port);
        continue;
      }
      if (const auto key = TreeNode::getRemappedKey(port_name, remapped->second)) {
        declareEntry(*blackboard, std::string(*key), port);
      }
      if (port.direction() != PortDirection::OUTPUT) {
        config.input_ports[port_name] = remapped->second;
      }
      if (port.direction() != PortDirection::INPUT) {
        config.output_ports[port_name] = remapped->second;
      }
    }
    return config;
  }

  // A literal is converted now, so that a bad value fails when the tree is created.
  static std::string checkedPortValue(const XMLElement& element, const TreeNodeManifest& manifest,
                                      const std::string& port_name, const std::string& value) {
    const auto port = manifest.ports.find(port_name);
    if (port == manifest.ports.end()) {
      throw RuntimeError("a port with name [", port_name, "] is found in the XML (<",
                         element.Name(), ">, line ", std::to_string(element.GetLineNum()),
                         ") but not in the providedPorts() of its registered node type.");
    }
    const PortInfo& info = port->second;
    if (!isReferenceText(value) && info.isStronglyTyped() && info.converter()) {
      try {
        info.converter()(value);
      } catch (const std::exception&) {
        throw LogicError("The port with name \"", port_name, "\" and value \"", value,
                         "\" can not be converted to ", info.typeName());
      }
    }
    return value;
  }

  static void addDefault(NodeConfig& config, const std::string& port_name, const PortInfo& port) {
    if (!port.defaultValueString().empty() && port.direction() != PortDirection::OUTPUT) {
      config.input_ports[port_name] = port.defaultValueString();
    }
  }

  // The first port that refers to a key types its entry; later ports must agree.
  static void declareEntry(Blackboard& blackboard, const std::string& key, const PortInfo& port) {
    const auto entry = blackboard.getEntry(key);
    if (!entry) {
      blackboard.createEntry(key, port);
      return;
    }
    std::unique_lock lock(entry->entry_mutex);
    const TypeInfo& previous = entry->info;
    if (previous.isStronglyTyped() && port.isStronglyTyped() && previous.type() != port.type() &&
        previous.type() != typeid(std::string)) {
      lock.unlock();
      blackboard.debugMessage();
      throw RuntimeError("The creation of the tree failed because the port [", key,
                         "] was initially created with type [", demangle(previous.type()),
                         "] and, later type [", demangle(port.type()),
                         "] was used somewhere else.");
    }
  }

  const BehaviorTreeFactory& factory_;
  const XMLElement& root_;
  Tree& tree_;
  uint16_t next_uid_ = 1;
  // The trees being built from the main tree down to the current one.
  std::set<std::string> ancestors_;
};

const char* portTag(PortDirection direction) {
  switch (direction) {
    case PortDirection::INPUT:
      return "input_port";
    case PortDirection::OUTPUT:
      return "output_port";
    default:
      return "inout_port";
  }
}

XMLElement* modelElement(tinyxml2::XMLDocument& document, const TreeNodeManifest& manifest) {
  XMLElement* element = document.NewElement(toStr(manifest.type).c_str());
  element->SetAttribute("ID", manifest.registration_ID.c_str());
  for (const auto& [port_name, port] : manifest.ports) {
    XMLElement* port_element = document.NewElement(portTag(port.direction()));
    port_element->SetAttribute("name", port_name.c_str());
    port_element->SetAttribute("type", port.typeName().c_str());
    if (!port.defaultValue().empty()) {
      port_element->SetAttribute("default", port.defaultValueString().c_str());
    }
    if (!port.description().empty()) {
      port_element->SetText(port.description().c_str());
    }
    element->InsertEndChild(port_element);
  }
  if (!manifest.metadata.empty()) {
    XMLElement* fields = document.NewElement("MetadataFields");
    for (const auto& [key, value] : manifest.metadata) {
      XMLElement* field = document.NewElement("Metadata");
      field->SetAttribute(key.c_str(), value.c_str());
      fields->InsertEndChild(field);
    }
    element->InsertEndChild(fields);
  }
  return element;
}

}  // namespace

namespace xml {

Tree buildMainTree(const BehaviorTreeFactory& factory, const tinyxml2::XMLDocument& document,
                   const Blackboard::Ptr& blackboard) {
  const XMLElement& root = checkedRoot(document);
  validateDocument(document, factory);
  const XMLElement& main_tree = selectMainTree(root);

  Tree tree;
  TreeBuilder(factory, root, tree).buildTree(main_tree, "", blackboard, nullptr);
  tree.manifests = factory.manifests();
  tree.initialize();
  return tree;
}

}  // namespace xml

std::string writeTreeNodesModelXML(const BehaviorTreeFactory& factory, bool include_builtin) {
  tinyxml2::XMLDocument document;
  XMLElement* root = document.NewElement("root");
  root->SetAttribute("BTCPP_format", "4");
  document.InsertEndChild(root);
  XMLElement* model = document.NewElement("TreeNodesModel");
  root->InsertEndChild(model);

  std::map<std::string, const TreeNodeManifest*> sorted;
  for (const auto& [ID, manifest] : factory.manifests()) {
    if (include_builtin || factory.builtinNodes().count(ID) == 0) {
      sorted.emplace(ID, &manifest);
    }
  }
  for (const auto& [ID, manifest] : sorted) {
    model->InsertEndChild(modelElement(document, *manifest));
  }

  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return std::string(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1));
}

}  // namespace BT
