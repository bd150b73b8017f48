-- Handlers of the hall.
function OnSceneRender(ambient)
  ge_fillrect(412, 284, 200, 200, "ff3060a0")
  ge_drawrect(412, 284, 200, 200, "ffffffff")
end

function door_MouseDown(x, y, button)
  print("door pressed at " .. x .. "," .. y .. " with button " .. button)
end

function door_MouseUp(x, y, button)
  print("door released at " .. x .. "," .. y)
end
