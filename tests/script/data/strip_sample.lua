-- a test script with nested functions, locals, upvalues and every constant kind
local counter = 0
local t = { nil, true, false, 1.5, "text", [10] = "ten" }
function bump(n)
    local step = n or 1
    counter = counter + step
    return function(x)
        local y = x * step + counter
        return y, "s" .. tostring(y)
    end
end
local function deep(a, ...)
    local function inner(b)
        local function innermost(c) return a + b + c end
        return innermost
    end
    return inner(select("#", ...))
end
result = deep(1, 2, 3)(4) + bump(2)(3)
