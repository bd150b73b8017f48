local function bad(k0, t) return setmetatable({}, {__index=function(_, k) if k == k0 then error("x") end return t[k] end}) end
hotspot(bad("rect", {name="m", rect="1,2,3,4", order=3}))
mesh(setmetatable({}, {__index={name="inh", order=2}}))
cubefaces(bad("name", {front="img"}))
view(setmetatable({}, {__index=function(t, k) return view(t) end}))
hotspot(setmetatable({}, {__index=function(t, k) endscene() return k end}))
patch(setmetatable({}, {__index=function(t, k) beginscene("nowhere") return 1 end}))
local co = coroutine.wrap(function(a)
  hotspot{name="co_hs", rect="11,22,5,5", order=a}
  fx(setmetatable({}, {__index=function() coroutine.yield(1) end}))
  surffx{name=coroutine.yield(2)}
end)
co(4) co("x") co()
while true do end
