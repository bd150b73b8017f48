#pragma once
// Small .x text meshes written for the tests.

namespace media_test {

// A cube of side 2 around the origin in a frame moved up by 2, with a
// template declaration before it and a textured material.
inline const char* kCubeX = R"(xof 0303txt 0032
template Frame {
 <3D82AB46-62DA-11cf-AB39-0020AF71E433>
 [...]
}
Frame Cube {
  FrameTransformMatrix {
    1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,2.0,0.0,1.0;;
  }
  Mesh CubeMesh {
    8;
    -1.0;-1.0;-1.0;,
    1.0;-1.0;-1.0;,
    -1.0;1.0;-1.0;,
    1.0;1.0;-1.0;,
    -1.0;-1.0;1.0;,
    1.0;-1.0;1.0;,
    -1.0;1.0;1.0;,
    1.0;1.0;1.0;;
    12;
    3;0,2,1;,
    3;1,2,3;,
    3;4,5,6;,
    3;5,7,6;,
    3;0,1,4;,
    3;1,5,4;,
    3;2,6,3;,
    3;3,6,7;,
    3;0,4,2;,
    3;2,4,6;,
    3;1,3,5;,
    3;3,7,5;;
    MeshMaterialList {
      1;
      12;
      0,0,0,0,0,0,0,0,0,0,0,0;;
      Material {
        1.0;1.0;1.0;1.0;;
        20.0;
        0.5;0.5;0.5;;
        0.0;0.0;0.0;;
        TextureFilename {
          "cube face.png";
        }
      }
    }
    MeshNormals {
      8;
      -0.57735;-0.57735;-0.57735;,
      0.57735;-0.57735;-0.57735;,
      -0.57735;0.57735;-0.57735;,
      0.57735;0.57735;-0.57735;,
      -0.57735;-0.57735;0.57735;,
      0.57735;-0.57735;0.57735;,
      -0.57735;0.57735;0.57735;,
      0.57735;0.57735;0.57735;;
      12;
      3;0,2,1;,
      3;1,2,3;,
      3;4,5,6;,
      3;5,7,6;,
      3;0,1,4;,
      3;1,5,4;,
      3;2,6,3;,
      3;3,6,7;,
      3;0,4,2;,
      3;2,4,6;,
      3;1,3,5;,
      3;3,7,5;;
    }
    MeshTextureCoords {
      8;
      0.0;0.0;,
      1.0;0.0;,
      0.0;1.0;,
      1.0;1.0;,
      0.0;0.0;,
      1.0;0.0;,
      0.0;1.0;,
      1.0;1.0;;
    }
  }
}
)";

// A two-column strip of six vertices on two bones: Bone1 holds the bottom
// row, Bone2 (one unit up) the top row, the middle row is shared half and
// half. The animation holds Bone2 one unit up and turns it a quarter turn
// about z between keys 10 and 20.
inline const char* kSkinnedX = R"(xof 0303txt 0032
Frame Root {
  FrameTransformMatrix {
    1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;
  }
  Frame Bone1 {
    FrameTransformMatrix {
      1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;
    }
    Frame Bone2 {
      FrameTransformMatrix {
        1,0,0,0,0,1,0,0,0,0,1,0,0,1,0,1;;
      }
    }
  }
  Frame Body {
    FrameTransformMatrix {
      1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;
    }
    Mesh BodyMesh {
      6;
      0;0;0;,
      1;0;0;,
      0;1;0;,
      1;1;0;,
      0;2;0;,
      1;2;0;;
      4;
      3;0,2,1;,
      3;1,2,3;,
      3;2,4,3;,
      3;3,4,5;;
      MeshMaterialList {
        1;
        4;
        0,0,0,0;;
        Material {
          1.0;1.0;1.0;1.0;;
          0.0;
          0.0;0.0;0.0;;
          0.0;0.0;0.0;;
        }
      }
      MeshNormals {
        6;
        0;0;-1;,
        0;0;-1;,
        0;0;-1;,
        0;0;-1;,
        0;0;-1;,
        0;0;-1;;
        4;
        3;0,2,1;,
        3;1,2,3;,
        3;2,4,3;,
        3;3,4,5;;
      }
      MeshTextureCoords {
        6;
        0;1;,
        1;1;,
        0;0.5;,
        1;0.5;,
        0;0;,
        1;0;;
      }
      XSkinMeshHeader {
        2;
        4;
        2;
      }
      SkinWeights {
        "Bone1";
        4;
        0,1,2,3;
        1.0,1.0,0.5,0.5;
        1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;
      }
      SkinWeights {
        "Bone2";
        4;
        2,3,4,5;
        0.5,0.5,1.0,1.0;
        1,0,0,0,0,1,0,0,0,0,1,0,0,-1,0,1;;
      }
    }
  }
}
AnimationSet Bend {
  Animation {
    AnimationKey {
      4;
      4;
      0;16;1,0,0,0,0,1,0,0,0,0,1,0,0,1,0,1;;,
      10;16;1,0,0,0,0,1,0,0,0,0,1,0,0,1,0,1;;,
      20;16;0,1,0,0,-1,0,0,0,0,0,1,0,0,1,0,1;;,
      30;16;0,1,0,0,-1,0,0,0,0,0,1,0,0,1,0,1;;;
    }
    {Bone2}
  }
}
)";

}  // namespace media_test
