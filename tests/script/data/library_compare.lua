-- Run by the system's lua5.1 and by the engine's state; the two outputs must be
-- the same line for line. Only the innermost lines of tracebacks are shown:
-- the frames under the script are the two programs' own.
local out = out or print
local dbg = package.loaded.debug
local function show(...)
  local t = {}
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    local k = type(v)
    t[i] = (k == "string" or k == "number" or k == "boolean" or k == "nil") and tostring(v) or k
  end
  out(table.concat(t, " "))
end
local function head(text, n)
  local lines = {}
  for l in (text .. "\n"):gmatch("(.-)\n") do
    lines[#lines + 1] = l
    if #lines == n then break end
  end
  return table.concat(lines, " | ")
end
-- tracebacks
show(xpcall(function() error("z") end, function(m) return head(dbg.traceback(m), 4) end))
local ok, t = xpcall(function() error("y") end, dbg.traceback)
show(ok, head(t, 4))
show(xpcall(function() local x = nil; return x.f end, function(m) return head(dbg.traceback(m, 2), 3) end))
-- levels a handler sees
show(xpcall(function() error("z") end, function(m)
  local a, b = dbg.getinfo(2, "nS"), dbg.getinfo(3, "nS")
  return a.name, a.what, b and b.name, b and b.what, b and b.short_src
end))
show(pcall(function() local i = dbg.getinfo(2, "nS") return i.name, i.what end))
-- error objects
show(pcall(error, {}))
show(pcall(error))
show(pcall(error, 42))
show(pcall(error, true))
show(xpcall(function() error({code = 7}) end, function(m) return type(m), m.code end))
show(xpcall(function() error(12.5) end, function(m) return type(m), m end))
show(xpcall(function() error() end, function(m) return type(m) end))
-- an error inside the handler
show(xpcall(function() error("a") end, function(m) error("b") end))
show(xpcall(function() error("a") end, function(m) local x = nil; return x.y end))
show(xpcall(function() error("a") end, 42))
-- error levels
show(pcall(function() error("lvl1") end))
show(pcall(function() error("lvl2", 2) end))
show(pcall(function() local function f() error("lvl2", 2) end f() end))
show(pcall(function() error("lvl0", 0) end))
show(pcall(error, "plain"))
-- argument checks and results
show(pcall(pcall))
show(pcall(xpcall, print))
show(select('#', pcall(function() return 1, nil, 3 end)))
show(pcall(coroutine.resume, 1))
show(pcall(coroutine.resume))
show(pcall(coroutine.wrap, print))
show(pcall(coroutine.wrap))
show(pcall(load))
show(pcall(load, "x"))
-- coroutines
local co = coroutine.create(function(a, b) local c = coroutine.yield(a + b) error(c, 0) end)
show(coroutine.resume(co, 1, 2))
show(coroutine.resume(co, "boom"))
show(coroutine.resume(co))
show(coroutine.status(co))
co = coroutine.create(function() return coroutine.resume(coroutine.running()) end)
show(coroutine.resume(co))
local outer
outer = coroutine.create(function() local inner = coroutine.create(function() return coroutine.resume(outer) end) return coroutine.resume(inner) end)
show(coroutine.resume(outer))
co = coroutine.create(function() error({}) end)
show(coroutine.resume(co))
co = coroutine.create(function() return head(dbg.traceback("in co"), 3) end)
show(coroutine.resume(co))
-- coroutine.wrap errors
show(pcall(coroutine.wrap(function() error("w") end)))
show(pcall(coroutine.wrap(function() error("w0", 0) end)))
show(pcall(coroutine.wrap(function() error({}) end)))
show(pcall(coroutine.wrap(function() error(5) end)))
local w = coroutine.wrap(function(a) local b = coroutine.yield(a * 2) return b + 1 end)
show(w(4), w(9))
show(pcall(w))
-- load with a reader
local parts = {"return ", "1 ", "+ 2"}
local i = 0
show(load(function() i = i + 1 return parts[i] end)())
show(load(function() error("reader fails") end))
show(load(function() error({}) end))
show(load(function() return {} end))
show(load(function() return nil end, "=named"))
show(load(function() return "x = = 1" end, "=named"))
-- depths: nested resumes and pcalls
local function chain(n)
  if n == 0 then return "bottom" end
  local ok, r = coroutine.resume(coroutine.create(chain), n - 1)
  if not ok then return "failed at " .. n .. ": " .. tostring(r) end
  return r
end
local function nest(n)
  if n == 0 then return "bottom" end
  local ok, r = pcall(nest, n - 1)
  if not ok then return "failed at " .. n .. ": " .. tostring(r) end
  return r
end
local function xnest(n)
  if n == 0 then return "bottom" end
  local ok, r = xpcall(function() return xnest(n - 1) end, function(m) return m end)
  if not ok then return "failed at " .. n .. ": " .. tostring(r) end
  return r
end
local function wnest(n)
  if n == 0 then return "bottom" end
  local ok, r = pcall(coroutine.wrap(wnest), n - 1)
  if not ok then return "failed at " .. n .. ": " .. tostring(r) end
  return r
end
for _, n in ipairs({150, 190}) do show(n, chain(n), nest(n), xnest(n), wnest(n)) end
local function deepest(f)
  for n = 50, 260 do if f(n) ~= "bottom" then return n - 1 end end
end
show("deepest", deepest(chain), deepest(nest), deepest(xnest), deepest(wnest))
-- hooks: a script sees its own, and a saved one can be set again
show(dbg.gethook())
local function h() end
dbg.sethook(h, "cr", 7)
local hf, hm, hc = dbg.gethook()
show(hf == h, hm, hc)
dbg.sethook()
dbg.sethook(hf, hm, hc)
show(select(2, dbg.gethook()))
dbg.sethook()
show(dbg.gethook())
show(pcall(dbg.sethook, "x", "l"))
