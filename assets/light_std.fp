!!ARBfp1.0
# Per-pixel light for one pass, in the vertex's tangent space.
#   unit 0: normal map, height in alpha     texcoord 0: uv
#   unit 1: normalisation cube map          texcoord 1: eye vector
#   unit 2: decal                           texcoord 2: uv
#   unit 3: normalisation cube map          texcoord 3: light vector
#   primary colour: light colour, audio level in alpha
OPTION ARB_precision_hint_nicest;

PARAM expand = {2.0, -1.0, 0.0, 0.0};
PARAM relief = {0.035, -0.0175, 0.0, 0.0};      # height scale and bias of the parallax step
PARAM shine = {0.35, 0.65, 32.0, 4.0};          # specular base, specular gain with the music, exponent, horizon
PARAM ambient = {0.06, 0.06, 0.07, 0.0};

TEMP eye, light, normal, height, offset, uv, decal, halfway, terms, colour;

# The cube maps hand back the vectors normalised, packed as 128 + 127 * component.
TEX eye, fragment.texcoord[1], texture[1], CUBE;
MAD eye, eye, expand.x, expand.y;
TEX light, fragment.texcoord[3], texture[3], CUBE;
MAD light, light, expand.x, expand.y;

# Parallax: shift the lookup towards the eye by the surface height, so the relief stands out.
TEX height, fragment.texcoord[0], texture[0], 2D;
MAD height.x, height.a, relief.x, relief.y;
MUL offset, eye, height.x;
ADD uv, fragment.texcoord[0], offset;
TEX normal, uv, texture[0], 2D;
MAD normal, normal, expand.x, expand.y;
DP3 normal.w, normal, normal;
RSQ normal.w, normal.w;
MUL normal.xyz, normal, normal.w;
ADD uv, fragment.texcoord[2], offset;
TEX decal, uv, texture[2], 2D;

# Diffuse and Blinn specular terms; the horizon term fades light that comes from behind the surface.
DP3_SAT terms.x, normal, light;
ADD halfway, light, eye;
DP3 halfway.w, halfway, halfway;
RSQ halfway.w, halfway.w;
MUL halfway.xyz, halfway, halfway.w;
DP3_SAT terms.y, normal, halfway;
POW terms.y, terms.y, shine.z;
MUL_SAT terms.z, light.z, shine.w;
MAD terms.w, fragment.color.a, shine.y, shine.x;
MUL terms.y, terms.y, terms.w;

MUL colour, decal, terms.x;
MAD colour, colour, fragment.color, ambient;
MAD colour, fragment.color, terms.y, colour;
MUL result.color.xyz, colour, terms.z;
MOV result.color.w, decal.w;
END
