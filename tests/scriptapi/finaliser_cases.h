#pragma once
// Lua text for tests of finalisers that run inside a script function (while
// it walks a list, pushes a result or turns an argument into text) and free
// what it works on. It defines case(n, action, call): calls rebuild() (a
// global the test defines), then call() with every allocation running a
// whole collection and a chain of finalisers that runs action() at the n-th
// of them: at 1 before the function has taken anything, at 2 in the middle
// of its pushes. Returns the number of results and the first two.
namespace scriptapi_test {

inline constexpr const char kFinaliserCases[] = R"(
    local armed = 0  -- finalisers of an earlier case do nothing
    local function arm(n, action, case_number)
        local p = newproxy(true)
        getmetatable(p).__gc = function()
            if case_number ~= armed then return end
            if n > 1 then arm(n - 1, action, case_number) else action() end
        end
    end
    local function counted(...) return select('#', ...), ... end
    function case(n, action, call)
        rebuild()
        collectgarbage('setpause', 0)
        collectgarbage('setstepmul', 0)
        collectgarbage('collect')
        armed = armed + 1
        arm(n, action, armed)
        local count, a, b = counted(call())
        armed = armed + 1
        collectgarbage('setpause', 200)
        collectgarbage('setstepmul', 200)
        return count, a, b
    end
    -- A call of f with the global named and the further arguments, read when
    -- the call is made (after rebuild()).
    function of(f, name, ...)
        local rest = {...}
        return function() return f(_G[name], unpack(rest)) end
    end
)";

}  // namespace scriptapi_test
