!!ARBfp1.0
# One light's pass over a sphere, per pixel, in the tangent space of the surface.
#   unit 0: normal map, height in alpha     texcoord 0: s, t
#   unit 1: normalisation cube map          texcoord 1: vector to the eye
#   unit 2: decal                           texcoord 2: s, t
#   unit 3: normalisation cube map          texcoord 3: vector to the light
#   primary colour: the light's colour, the music's level in alpha
# The eye and light vectors are normalised with arithmetic rather than through the cube maps: on a
# software rasterizer three instructions cost far less than a cube-map lookup, and are exact.
OPTION ARB_precision_hint_nicest;

PARAM expand = {2.0, -1.0, 0.0, 0.0};
PARAM relief = {0.006, 0.012, 0.5, 0.0};      # parallax shift across s and t per unit of height; sea level
PARAM gloss = {0.35, 0.30, 0.9, 4.0};         # gloss of the sea, of land, its gain with the music; horizon
PARAM ambient = {0.05, 0.06, 0.09, 0.0};      # a night side that still shows the world
PARAM air = {0.20, 0.42, 0.95, 0.0};          # colour of the atmosphere at the rim
PARAM pulse = {0.35, 1.4, 0.33, 0.0};         # rim glow in silence, its growth with the music; sea level

TEMP eye, light, normal, height, offset, uv, decal, halfway, terms, colour, glow;

DP3 eye.w, fragment.texcoord[1], fragment.texcoord[1];
RSQ eye.w, eye.w;
MUL eye.xyz, fragment.texcoord[1], eye.w;
DP3 light.w, fragment.texcoord[3], fragment.texcoord[3];
RSQ light.w, light.w;
MUL light.xyz, fragment.texcoord[3], light.w;

# Parallax: the colours of heights above sea level shift towards the eye, so mountains stand out as
# the sphere turns. The normal is read where the pixel lies: one lookup fewer, and the shift is a
# texel or two.
TEX normal, fragment.texcoord[0], texture[0], 2D;
SUB height.x, normal.a, relief.z;
MUL offset, eye, height.x;
MUL offset, offset, relief;
ADD uv, fragment.texcoord[2], offset;
TEX decal, uv, texture[2], 2D;
MOV height.a, normal.a;
MAD normal, normal, expand.x, expand.y;
DP3 normal.w, normal, normal;
RSQ normal.w, normal.w;
MUL normal.xyz, normal, normal.w;

# Diffuse light through the bumps, faded where the light comes from behind the surface itself.
DP3_SAT terms.x, normal, light;
MUL_SAT terms.z, light.z, gloss.w;
MUL terms.x, terms.x, terms.z;

# Blinn gloss to the 24th power: the seas (low in the height map) shine, land a little; louder
# music shines brighter.
ADD halfway, light, eye;
DP3 halfway.w, halfway, halfway;
RSQ halfway.w, halfway.w;
MUL halfway.xyz, halfway, halfway.w;
DP3_SAT terms.y, normal, halfway;
MUL terms.y, terms.y, terms.y;
MUL terms.y, terms.y, terms.y;
MUL terms.w, terms.y, terms.y;
MUL terms.y, terms.y, terms.w;
MUL terms.y, terms.y, terms.y;
MUL terms.y, terms.y, terms.z;
SLT terms.w, height.a, pulse.z;
MAD terms.w, terms.w, gloss.x, gloss.y;
MAD glow.x, fragment.color.a, gloss.z, 1.0;
MUL terms.y, terms.y, terms.w;
MUL terms.y, terms.y, glow.x;

# The atmosphere: a rim of blue air lit by the light, growing with the music.
SUB_SAT glow.w, 1.0, eye.z;
MUL glow.z, glow.w, glow.w;
MUL glow.w, glow.w, glow.z;
MAD glow.y, fragment.color.a, pulse.y, pulse.x;
MUL glow.w, glow.w, glow.y;
MAD glow.xyz, fragment.color, 0.5, air;
MUL glow.xyz, glow, glow.w;

MAD colour, fragment.color, terms.x, ambient;
MUL colour, colour, decal;
MAD colour, fragment.color, terms.y, colour;
ADD result.color.xyz, colour, glow;
MOV result.color.w, decal.w;
END
