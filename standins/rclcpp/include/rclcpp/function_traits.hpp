#pragma once

#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>

namespace rclcpp::function_traits {

// The argument list of a callable: a function, function pointer, member function, object with a
// non-template operator(), or a std::bind expression (whose bound function's own argument list
// counts, placeholders aside).
template <typename FunctionT>
struct function_traits : function_traits<decltype(&std::decay_t<FunctionT>::operator())> {};

template <typename ReturnT, typename... Args>
struct function_traits<ReturnT(Args...)> {
  using arguments = std::tuple<Args...>;
  using return_type = ReturnT;
  static constexpr std::size_t arity = sizeof...(Args);
};

template <typename ReturnT, typename... Args>
struct function_traits<ReturnT (*)(Args...)> : function_traits<ReturnT(Args...)> {};

template <typename ClassT, typename ReturnT, typename... Args>
struct function_traits<ReturnT (ClassT::*)(Args...)> : function_traits<ReturnT(Args...)> {};

template <typename ClassT, typename ReturnT, typename... Args>
struct function_traits<ReturnT (ClassT::*)(Args...) const> : function_traits<ReturnT(Args...)> {};

// libstdc++ spells a bind expression std::_Bind<F(BoundArgs...)>.
template <typename ClassT, typename ReturnT, typename... Args, typename... FArgs>
struct function_traits<std::_Bind<ReturnT (ClassT::*(FArgs...))(Args...)>>
    : function_traits<ReturnT(Args...)> {};

template <typename ClassT, typename ReturnT, typename... Args, typename... FArgs>
struct function_traits<std::_Bind<ReturnT (ClassT::*(FArgs...))(Args...) const>>
    : function_traits<ReturnT(Args...)> {};

template <typename ReturnT, typename... Args, typename... FArgs>
struct function_traits<std::_Bind<ReturnT (*(FArgs...))(Args...)>>
    : function_traits<ReturnT(Args...)> {};

template <typename FunctionT>
struct function_traits<FunctionT&> : function_traits<FunctionT> {};

template <typename FunctionT>
struct function_traits<FunctionT&&> : function_traits<FunctionT> {};

template <typename FunctorT, typename FunctionT>
struct same_arguments : std::is_same<typename function_traits<FunctorT>::arguments,
                                     typename function_traits<FunctionT>::arguments> {};

}  // namespace rclcpp::function_traits
