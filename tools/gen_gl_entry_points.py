#!/usr/bin/env python3
"""Writes bind/GLEntryPoints.inc, the name lists of the GL binding, from the public registry.

Usage: tools/gen_gl_entry_points.py [--registry DIR] [--output FILE] [--check]

DIR holds gl.xml and wgl.xml (Debian's khronos-api package installs them in
/usr/share/khronos-api). The output is committed, so building never needs the registry; run this
again only to change the lists, and --check to see that the committed file still matches.

What the binding knows is fixed: 21 WGL base variables, 51 GLU, 649 GL core by version, 1,398 GL
extension variables in 167 groups (1,400 names: two names stand in two groups and share their
variable), 111 WGL extension variables in 30 groups, 2 WIN, and 402 extension names to test.
Today's registry knows more than the binding does, and it moved some names since; the tables
below hold every place where the lists are not read straight from it, each with its reason. The
script refuses to write a file whose totals differ from the fixed ones.
"""

import argparse
import os
import sys
import xml.etree.ElementTree as ET

# --------------------------------------------------------------------------------------------
# Lists that the registry does not hold.

# The WGL functions the GL library exports, in resolution order. The last two variables carry
# the character-set-neutral names and receive the "A" functions.
WGL_BASE = [
    "wglCopyContext", "wglCreateLayerContext", "wglCreateContext", "wglDeleteContext",
    "wglDescribeLayerPlane", "wglGetCurrentContext", "wglGetCurrentDC",
    "wglGetLayerPaletteEntries", "wglGetProcAddress", "wglMakeCurrent",
    "wglRealizeLayerPalette", "wglSetLayerPaletteEntries", "wglShareLists",
    "wglSwapLayerBuffers", "wglSwapMultipleBuffers", "wglUseFontBitmapsA",
    "wglUseFontOutlinesA", "wglUseFontBitmapsW", "wglUseFontOutlinesW",
]
WGL_BASE_NEUTRAL = [("wglUseFontBitmaps", "wglUseFontBitmapsA"),
                    ("wglUseFontOutlines", "wglUseFontOutlinesA")]

GLU = [
    "gluBeginCurve", "gluBeginPolygon", "gluBeginSurface", "gluBeginTrim", "gluBuild1DMipmaps",
    "gluBuild2DMipmaps", "gluCylinder", "gluDeleteNurbsRenderer", "gluDeleteQuadric",
    "gluDeleteTess", "gluDisk", "gluEndCurve", "gluEndPolygon", "gluEndSurface", "gluEndTrim",
    "gluErrorString", "gluGetNurbsProperty", "gluGetString", "gluGetTessProperty",
    "gluLoadSamplingMatrices", "gluLookAt", "gluNewNurbsRenderer", "gluNewQuadric", "gluNewTess",
    "gluNextContour", "gluNurbsCallback", "gluNurbsCurve", "gluNurbsProperty", "gluNurbsSurface",
    "gluOrtho2D", "gluPartialDisk", "gluPerspective", "gluPickMatrix", "gluProject",
    "gluPwlCurve", "gluQuadricCallback", "gluQuadricDrawStyle", "gluQuadricNormals",
    "gluQuadricOrientation", "gluQuadricTexture", "gluScaleImage", "gluSphere",
    "gluTessBeginContour", "gluTessBeginPolygon", "gluTessCallback", "gluTessEndContour",
    "gluTessEndPolygon", "gluTessNormal", "gluTessProperty", "gluTessVertex", "gluUnProject",
]

# The extension names whose flags the binding keeps, in flag order. Each is tested exactly as
# written; the WIN names have no "GL_" in front.
EXTENSION_FLAGS = """
GL_3DFX_multisample GL_3DFX_tbuffer GL_3DFX_texture_compression_FXT1 GL_APPLE_client_storage
GL_APPLE_element_array GL_APPLE_fence GL_APPLE_specular_vector GL_APPLE_transform_hint
GL_APPLE_vertex_array_object GL_APPLE_vertex_array_range GL_APPLE_ycbcr_422
GL_APPLE_texture_range GL_APPLE_float_pixels GL_APPLE_vertex_program_evaluators
GL_APPLE_aux_depth_stencil GL_APPLE_object_purgeable GL_APPLE_row_bytes GL_APPLE_rgb_422
GL_ARB_depth_texture GL_ARB_fragment_program GL_ARB_imaging GL_ARB_matrix_palette
GL_ARB_multisample GL_ARB_multitexture GL_ARB_point_parameters GL_ARB_shadow
GL_ARB_shadow_ambient GL_ARB_texture_border_clamp GL_ARB_texture_compression
GL_ARB_texture_cube_map GL_ARB_texture_env_add GL_ARB_texture_env_combine
GL_ARB_texture_env_crossbar GL_ARB_texture_env_dot3 GL_ARB_texture_mirrored_repeat
GL_ARB_transpose_matrix GL_ARB_vertex_blend GL_ARB_vertex_buffer_object GL_ARB_vertex_program
GL_ARB_window_pos GL_ARB_shader_objects GL_ARB_vertex_shader GL_ARB_fragment_shader
GL_ARB_occlusion_query GL_ARB_shading_language_100 GL_ARB_point_sprite
GL_ARB_texture_non_power_of_two GL_ARB_fragment_program_shadow GL_ARB_draw_buffers
GL_ARB_texture_rectangle GL_ARB_color_buffer_float GL_ARB_half_float_pixel GL_ARB_texture_float
GL_ARB_pixel_buffer_object GL_ARB_depth_buffer_float GL_ARB_draw_instanced
GL_ARB_framebuffer_object GL_ARB_framebuffer_sRGB GL_ARB_geometry_shader4
GL_ARB_half_float_vertex GL_ARB_instanced_arrays GL_ARB_map_buffer_range
GL_ARB_texture_buffer_object GL_ARB_texture_compression_rgtc GL_ARB_texture_rg
GL_ARB_vertex_array_object GL_ARB_uniform_buffer_object GL_ARB_compatibility GL_ARB_copy_buffer
GL_ARB_shader_texture_lod GL_ARB_depth_clamp GL_ARB_draw_elements_base_vertex
GL_ARB_fragment_coord_conventions GL_ARB_provoking_vertex GL_ARB_seamless_cube_map GL_ARB_sync
GL_ARB_texture_multisample GL_ARB_vertex_array_bgra GL_ARB_draw_buffers_blend
GL_ARB_sample_shading GL_ARB_texture_cube_map_array GL_ARB_texture_gather
GL_ARB_texture_query_lod GL_ARB_shading_language_include GL_ARB_texture_compression_bptc
GL_ARB_blend_func_extended GL_ARB_explicit_attrib_location GL_ARB_occlusion_query2
GL_ARB_sampler_objects GL_ARB_shader_bit_encoding GL_ARB_texture_rgb10_a2ui
GL_ARB_texture_swizzle GL_ARB_timer_query GL_ARB_vertex_type_2_10_10_10_rev
GL_ARB_draw_indirect GL_ARB_gpu_shader5 GL_ARB_gpu_shader_fp64 GL_ARB_shader_subroutine
GL_ARB_tessellation_shader GL_ARB_texture_buffer_object_rgb32 GL_ARB_transform_feedback2
GL_ARB_transform_feedback3 GL_ATI_draw_buffers GL_ATI_element_array GL_ATI_envmap_bumpmap
GL_ATI_fragment_shader GL_ATI_map_object_buffer GL_ATI_pn_triangles GL_ATI_separate_stencil
GL_ATI_text_fragment_shader GL_ATI_texture_env_combine3 GL_ATI_texture_float
GL_ATI_texture_mirror_once GL_ATI_vertex_array_object GL_ATI_vertex_attrib_array_object
GL_ATI_vertex_streams GL_ATI_meminfo GL_AMD_performance_monitor GL_AMD_texture_texture4
GL_AMD_vertex_shader_tesselator GL_AMD_shader_stencil_export
GL_AMD_seamless_cubemap_per_texture GL_EXT_422_pixels GL_EXT_abgr GL_EXT_bgra
GL_EXT_blend_color GL_EXT_blend_func_separate GL_EXT_blend_logic_op GL_EXT_blend_minmax
GL_EXT_blend_subtract GL_EXT_clip_volume_hint GL_EXT_cmyka GL_EXT_color_matrix
GL_EXT_color_subtable GL_EXT_compiled_vertex_array GL_EXT_convolution GL_EXT_coordinate_frame
GL_EXT_copy_texture GL_EXT_cull_vertex GL_EXT_draw_range_elements GL_EXT_fog_coord
GL_EXT_framebuffer_object GL_EXT_histogram GL_EXT_index_array_formats GL_EXT_index_func
GL_EXT_index_material GL_EXT_index_texture GL_EXT_light_texture GL_EXT_misc_attribute
GL_EXT_multi_draw_arrays GL_EXT_multisample GL_EXT_packed_pixels GL_EXT_paletted_texture
GL_EXT_pixel_transform GL_EXT_pixel_transform_color_table GL_EXT_point_parameters
GL_EXT_polygon_offset GL_EXT_rescale_normal GL_EXT_secondary_color
GL_EXT_separate_specular_color GL_EXT_shadow_funcs GL_EXT_shared_texture_palette
GL_EXT_stencil_two_side GL_EXT_stencil_wrap GL_EXT_subtexture GL_EXT_texture GL_EXT_texture3D
GL_EXT_texture_compression_s3tc GL_EXT_texture_cube_map GL_EXT_texture_edge_clamp
GL_EXT_texture_env_add GL_EXT_texture_env_combine GL_EXT_texture_env_dot3
GL_EXT_texture_filter_anisotropic GL_EXT_texture_lod_bias GL_EXT_texture_object
GL_EXT_texture_perturb_normal GL_EXT_texture_rectangle GL_EXT_vertex_array
GL_EXT_vertex_shader GL_EXT_vertex_weighting GL_EXT_depth_bounds_test
GL_EXT_texture_mirror_clamp GL_EXT_blend_equation_separate GL_EXT_pixel_buffer_object
GL_EXT_texture_compression_dxt1 GL_EXT_stencil_clear_tag GL_EXT_packed_depth_stencil
GL_EXT_texture_sRGB GL_EXT_framebuffer_blit GL_EXT_framebuffer_multisample GL_EXT_timer_query
GL_EXT_gpu_program_parameters GL_EXT_bindable_uniform GL_EXT_draw_buffers2
GL_EXT_draw_instanced GL_EXT_framebuffer_sRGB GL_EXT_geometry_shader4 GL_EXT_gpu_shader4
GL_EXT_packed_float GL_EXT_texture_array GL_EXT_texture_buffer_object
GL_EXT_texture_compression_latc GL_EXT_texture_compression_rgtc GL_EXT_texture_integer
GL_EXT_texture_shared_exponent GL_EXT_transform_feedback GL_EXT_direct_state_access
GL_EXT_vertex_array_bgra GL_EXT_texture_swizzle GL_EXT_provoking_vertex GL_EXT_texture_snorm
GL_EXT_separate_shader_objects GL_HP_convolution_border_modes GL_HP_image_transform
GL_HP_occlusion_test GL_HP_texture_lighting GL_IBM_cull_vertex GL_IBM_multimode_draw_arrays
GL_IBM_rasterpos_clip GL_IBM_texture_mirrored_repeat GL_IBM_vertex_array_lists
GL_INGR_blend_func_separate GL_INGR_color_clamp GL_INGR_interlace_read GL_INGR_palette_buffer
GL_INTEL_parallel_arrays GL_INTEL_texture_scissor GL_MESA_resize_buffers GL_MESA_window_pos
GL_NV_blend_square GL_NV_copy_depth_to_color GL_NV_depth_clamp GL_NV_evaluators GL_NV_fence
GL_NV_float_buffer GL_NV_fog_distance GL_NV_fragment_program GL_NV_half_float
GL_NV_light_max_exponent GL_NV_multisample_filter_hint GL_NV_occlusion_query
GL_NV_packed_depth_stencil GL_NV_pixel_data_range GL_NV_point_sprite GL_NV_primitive_restart
GL_NV_register_combiners GL_NV_register_combiners2 GL_NV_texgen_emboss GL_NV_texgen_reflection
GL_NV_texture_compression_vtc GL_NV_texture_env_combine4 GL_NV_texture_expand_normal
GL_NV_texture_rectangle GL_NV_texture_shader GL_NV_texture_shader2 GL_NV_texture_shader3
GL_NV_vertex_array_range GL_NV_vertex_array_range2 GL_NV_vertex_program
GL_NV_vertex_program1_1 GL_NV_vertex_program2 GL_NV_fragment_program_option
GL_NV_fragment_program2 GL_NV_vertex_program2_option GL_NV_vertex_program3
GL_NV_depth_buffer_float GL_NV_fragment_program4 GL_NV_framebuffer_multisample_coverage
GL_NV_geometry_program4 GL_NV_gpu_program4 GL_NV_parameter_buffer_object
GL_NV_transform_feedback GL_NV_vertex_program4 GL_NV_conditional_render GL_NV_present_video
GL_NV_explicit_multisample GL_NV_transform_feedback2 GL_NV_video_capture GL_NV_copy_image
GL_NV_parameter_buffer_object2 GL_NV_shader_buffer_load GL_NV_vertex_buffer_unified_memory
GL_NV_texture_barrier GL_OML_interlace GL_OML_resample GL_OML_subsample GL_PGI_misc_hints
GL_PGI_vertex_hints GL_REND_screen_coordinates GL_S3_s3tc GL_SGIS_detail_texture
GL_SGIS_fog_function GL_SGIS_generate_mipmap GL_SGIS_multisample GL_SGIS_pixel_texture
GL_SGIS_point_line_texgen GL_SGIS_point_parameters GL_SGIS_sharpen_texture GL_SGIS_texture4D
GL_SGIS_texture_border_clamp GL_SGIS_texture_color_mask GL_SGIS_texture_edge_clamp
GL_SGIS_texture_filter4 GL_SGIS_texture_lod GL_SGIS_texture_select GL_FfdMaskSGIX
GL_SGIX_async GL_SGIX_async_histogram GL_SGIX_async_pixel GL_SGIX_blend_alpha_minmax
GL_SGIX_calligraphic_fragment GL_SGIX_clipmap GL_SGIX_convolution_accuracy
GL_SGIX_depth_pass_instrument GL_SGIX_depth_texture GL_SGIX_flush_raster GL_SGIX_fog_offset
GL_SGIX_fog_scale GL_SGIX_fragment_lighting GL_SGIX_framezoom GL_SGIX_igloo_interface
GL_SGIX_impact_pixel_texture GL_SGIX_instruments GL_SGIX_interlace GL_SGIX_ir_instrument1
GL_SGIX_list_priority GL_SGIX_pixel_texture GL_SGIX_pixel_tiles GL_SGIX_polynomial_ffd
GL_SGIX_reference_plane GL_SGIX_resample GL_SGIX_scalebias_hint GL_SGIX_shadow
GL_SGIX_shadow_ambient GL_SGIX_sprite GL_SGIX_subsample GL_SGIX_tag_sample_buffer
GL_SGIX_texture_add_env GL_SGIX_texture_coordinate_clamp GL_SGIX_texture_lod_bias
GL_SGIX_texture_multi_buffer GL_SGIX_texture_scale_bias GL_SGIX_texture_select
GL_SGIX_vertex_preclip GL_SGIX_ycrcb GL_SGIX_ycrcb_subsample GL_SGIX_ycrcba GL_SGI_color_matrix
GL_SGI_color_table GL_SGI_depth_pass_instrument GL_SGI_texture_color_table
GL_SUNX_constant_data GL_SUN_convolution_border_modes GL_SUN_global_alpha GL_SUN_mesh_array
GL_SUN_slice_accum GL_SUN_triangle_list GL_SUN_vertex GL_WIN_phong_shading GL_WIN_specular_fog
WGL_3DFX_multisample WGL_ARB_buffer_region WGL_ARB_extensions_string
WGL_ARB_make_current_read WGL_ARB_multisample WGL_ARB_pbuffer WGL_ARB_pixel_format
WGL_ARB_pixel_format_float WGL_ARB_render_texture WGL_ARB_create_context
WGL_ARB_create_context_profile WGL_ATI_pixel_format_float WGL_AMD_gpu_association
WGL_EXT_depth_float WGL_EXT_display_color_table WGL_EXT_extensions_string
WGL_EXT_make_current_read WGL_EXT_multisample WGL_EXT_pbuffer WGL_EXT_pixel_format
WGL_EXT_swap_control WGL_I3D_digital_video_control WGL_I3D_gamma WGL_I3D_genlock
WGL_I3D_image_buffer WGL_I3D_swap_frame_lock WGL_I3D_swap_frame_usage WGL_NV_float_buffer
WGL_NV_render_depth_texture WGL_NV_render_texture_rectangle WGL_NV_vertex_array_range
WGL_NV_present_video WGL_NV_video_output WGL_NV_swap_group WGL_NV_gpu_affinity
WGL_NV_video_capture WGL_NV_copy_image WGL_OML_sync_control WGL_3DL_stereo_control
WIN_draw_range_elements WIN_swap_hint
""".split()

# Two Windows-only extensions the registry does not describe, one function each.
WIN_GROUPS = [("WIN_draw_range_elements", ["glDrawRangeElementsWIN"]),
              ("WIN_swap_hint", ["glAddSwapHintRectWIN"])]

# --------------------------------------------------------------------------------------------
# Where the lists differ from today's registry.

# GL 1.2 as the binding knows it: the two blend functions and the imaging subset (which the
# registry files under 1.4 and under GL_ARB_imaging) belong to it.
GL_1_2_BLEND = ["glBlendColor", "glBlendEquation"]

# GL 2.0 has 92 names here against the registry's 93: this one is left out.
GL_2_0_LEFT_OUT = ["glVertexAttrib4Nub"]

# GL 3.2 as the headers of its time had it: the registry later moved glProgramParameteri to 4.1
# and never took glFramebufferTextureFace into the core.
GL_3_2_ADDED = ["glProgramParameteri", "glFramebufferTextureFace"]

# The ARB extensions whose groups each core block from 3.0 on runs first, and the nine that
# stand for 3.3 and 4.0 after the 3.2 names.
CORE_BLOCK_GROUPS = {
    "GL_VERSION_3_0": ["GL_ARB_framebuffer_object", "GL_ARB_map_buffer_range",
                       "GL_ARB_vertex_array_object"],
    "GL_VERSION_3_1": ["GL_ARB_copy_buffer", "GL_ARB_uniform_buffer_object"],
    "GL_VERSION_3_2": ["GL_ARB_draw_elements_base_vertex", "GL_ARB_provoking_vertex",
                       "GL_ARB_sync", "GL_ARB_texture_multisample"],
}
CORE_TAIL_GROUPS = [
    "GL_ARB_blend_func_extended", "GL_ARB_sampler_objects", "GL_ARB_timer_query",
    "GL_ARB_vertex_type_2_10_10_10_rev", "GL_ARB_gpu_shader_fp64", "GL_ARB_shader_subroutine",
    "GL_ARB_tessellation_shader", "GL_ARB_transform_feedback2", "GL_ARB_transform_feedback3",
]

# Extensions whose functions the registry lists separately but that are amendments of another
# extension, so one group resolves both (key: folded extension, value: the group it joins).
FOLDED = {
    "GL_ARB_fragment_program": "GL_ARB_vertex_program",  # shares all its functions with it
    "GL_EXT_texture_array": "GL_NV_geometry_program4",  # its one function is also there
    "GL_EXT_framebuffer_blit": "GL_EXT_framebuffer_object",
    "GL_EXT_framebuffer_multisample": "GL_EXT_framebuffer_object",
    "GL_NV_register_combiners2": "GL_NV_register_combiners",
    "GL_ATI_vertex_attrib_array_object": "GL_ATI_vertex_array_object",
    "GL_NV_parameter_buffer_object": "GL_NV_gpu_program4",  # program parameters of that model
}

# GL 3.3 and 4.0 have no blocks of their own. Where they took an ARB extension into the core
# under the names without suffix, the extension's group resolves those core names as well
# (glVertexAttribDivisor, glMinSampleShading and the four indexed blend functions).
CORE_NAMES_VERSIONS = ["3.3", "4.0"]

# The registry corrected the spelling of this one; drivers advertised the flag's spelling.
REGISTRY_SPELLING = {"GL_AMD_vertex_shader_tesselator": "GL_AMD_vertex_shader_tessellator"}

# Names that stand in two groups and share one variable (group, name): the getter that both
# vertex-program interfaces define, and the HP function that its successor lists again.
SHARED = [("GL_ARB_vertex_shader", "glGetVertexAttribPointervARB"),
          ("GL_EXT_pixel_transform", "glImageTransformParameteriHP")]

# The direct-state-access group as it was before the registry grew it: from the client
# attribute functions to glMultiTexRenderbufferEXT, without the 3.0-style indexed duplicates and
# the buffer copy that later revisions added (186 names).
DSA = "GL_EXT_direct_state_access"
DSA_FIRST_BLOCK = ["glClientAttribDefaultEXT", "glPushClientAttribDefaultEXT"]
DSA_LAST = "glMultiTexRenderbufferEXT"
DSA_LEFT_OUT = ["glEnableClientStateiEXT", "glDisableClientStateiEXT", "glGetFloati_vEXT",
                "glGetDoublei_vEXT", "glGetPointeri_vEXT", "glNamedCopyBufferSubDataEXT"]

# One WGL function outside the flagged extensions is bound as its own group.
WGL_EXTRA_GROUPS = ["WGL_NV_delay_before_swap"]

TOTALS = {"wgl_base": 21, "glu": 51, "core": 649, "gl_groups": 167, "gl_names": 1400,
          "gl_variables": 1398, "wgl_groups": 30, "wgl_names": 111, "win": 2, "flags": 402,
          "variables": 2232}
CORE_COUNTS = {"GL_VERSION_1_1": 336, "GL_VERSION_1_2": 38, "GL_VERSION_1_3": 46,
               "GL_VERSION_1_4": 45, "GL_VERSION_1_5": 19, "GL_VERSION_2_0": 92,
               "GL_VERSION_2_1": 6, "GL_VERSION_3_0": 58, "GL_VERSION_3_1": 4,
               "GL_VERSION_3_2": 5}


class RegistryError(Exception):
    pass


def commands(element, api):
    """The commands an extension or feature requires for `api`, in registry order."""
    names = []
    for require in element.findall("require"):
        if require.get("api") not in (None, api):
            continue
        names.extend(c.get("name") for c in require.findall("command"))
    return names


def read_registry(directory):
    gl = ET.parse(os.path.join(directory, "gl.xml")).getroot()
    wgl = ET.parse(os.path.join(directory, "wgl.xml")).getroot()
    features = {f.get("number"): commands(f, "gl") for f in gl.findall("feature")
                if f.get("api") == "gl"}
    gl_ext = {e.get("name"): commands(e, "gl") for e in gl.find("extensions")}
    wgl_ext = {e.get("name"): commands(e, "wgl") for e in wgl.find("extensions")}
    wgl_base = set()
    for f in wgl.findall("feature"):
        wgl_base.update(commands(f, "wgl"))
    return features, gl_ext, wgl_ext, wgl_base


def build_core(features, gl_ext):
    def without(names, *groups):
        drop = set()
        for group in groups:
            drop.update(gl_ext[group])
        return [n for n in names if n not in drop]

    blocks = []
    v11 = features["1.0"] + sorted(features["1.1"])  # 1.1 by name, so it ends at glVertexPointer
    blocks.append(("GL_VERSION_1_1", v11))
    imaging = [n for n in gl_ext["GL_ARB_imaging"] if n not in GL_1_2_BLEND]
    blocks.append(("GL_VERSION_1_2", GL_1_2_BLEND + features["1.2"] + imaging))
    blocks.append(("GL_VERSION_1_3", features["1.3"]))
    blocks.append(("GL_VERSION_1_4", [n for n in features["1.4"] if n not in GL_1_2_BLEND]))
    blocks.append(("GL_VERSION_1_5", features["1.5"]))
    blocks.append(("GL_VERSION_2_0", [n for n in features["2.0"] if n not in GL_2_0_LEFT_OUT]))
    blocks.append(("GL_VERSION_2_1", features["2.1"]))
    blocks.append(("GL_VERSION_3_0", without(features["3.0"], *CORE_BLOCK_GROUPS["GL_VERSION_3_0"])))
    # The registry repeats three 3.0 buffer functions under 3.1 for the uniform-buffer extension.
    v30 = set(blocks[-1][1])
    v31 = without(features["3.1"], *CORE_BLOCK_GROUPS["GL_VERSION_3_1"])
    blocks.append(("GL_VERSION_3_1", [n for n in v31 if n not in v30]))
    v32 = without(features["3.2"], *CORE_BLOCK_GROUPS["GL_VERSION_3_2"])
    blocks.append(("GL_VERSION_3_2", v32 + GL_3_2_ADDED))
    return blocks


def build_gl_groups(gl_ext, features, core_names):
    gl_flags = [n for n in EXTENSION_FLAGS if n.startswith("GL_")]
    members = {}
    later_core = set()
    for version in CORE_NAMES_VERSIONS:
        later_core.update(features[version])
    for name in gl_flags:
        registry_name = REGISTRY_SPELLING.get(name, name)
        if registry_name not in gl_ext:
            continue  # no functions, or not in the registry under this name
        names = list(gl_ext[registry_name])
        if name == DSA:
            last = names.index(DSA_LAST)
            names = DSA_FIRST_BLOCK + [n for n in names[:last + 1] if n not in DSA_FIRST_BLOCK]
            names = [n for n in names if n not in DSA_LEFT_OUT]
        if name.startswith("GL_ARB_"):
            names += [n[:-3] for n in names if n.endswith("ARB") and n[:-3] in later_core]
        members[name] = [n for n in names if n not in core_names]
    for folded, target in FOLDED.items():
        members[target] = members[target] + members.pop(folded)
    for group, name in SHARED:
        if name not in members[group]:
            members[group].append(name)

    shared = {name for _, name in SHARED}
    seen = set()
    groups = []
    for name in gl_flags:
        if name not in members:
            continue
        own = []
        for n in members[name]:
            if n in own:
                continue
            if n in seen and n not in shared:
                continue
            own.append(n)
        seen.update(own)
        if own:
            groups.append((name, own))
    # A shared name must really stand in two groups.
    for n in shared:
        holders = [g for g, names in groups if n in names]
        if len(holders) != 2:
            raise RegistryError("%s stands in %s" % (n, holders))
    return groups


def build_wgl_groups(wgl_ext):
    groups = []
    seen = set()
    names = [n for n in EXTENSION_FLAGS if n.startswith("WGL_")]
    for name in names + WGL_EXTRA_GROUPS:
        own = [n for n in wgl_ext.get(name, []) if n not in seen]
        seen.update(own)
        if own:
            groups.append((name, own))
    # Keep the vendor order of the flags (ARB, AMD, EXT, I3D, NV, OML, 3DL) for the extra group.
    order = {"ARB": 0, "ATI": 1, "AMD": 2, "EXT": 3, "I3D": 4, "NV": 5, "OML": 6, "3DL": 7}
    groups.sort(key=lambda g: order.get(g[0].split("_")[1], 99))
    return groups


def build(directory):
    features, gl_ext, wgl_ext, wgl_base = read_registry(directory)
    # The registry's base list lacks wglSwapMultipleBuffers, which the GL library exports all
    # the same; every other base name must be there.
    for name in WGL_BASE:
        if name not in wgl_base and name != "wglSwapMultipleBuffers":
            raise RegistryError("%s is not a WGL base function" % name)

    core = build_core(features, gl_ext)
    core_names = {n for _, names in core for n in names}
    gl_groups = build_gl_groups(gl_ext, features, core_names)
    wgl_groups = build_wgl_groups(wgl_ext)

    check = {
        "wgl_base": len(WGL_BASE) + len(WGL_BASE_NEUTRAL),
        "glu": len(GLU),
        "core": sum(len(n) for _, n in core),
        "gl_groups": len(gl_groups),
        "gl_names": sum(len(n) for _, n in gl_groups),
        "gl_variables": len({x for _, n in gl_groups for x in n}),
        "wgl_groups": len(wgl_groups),
        "wgl_names": sum(len(n) for _, n in wgl_groups),
        "win": len(WIN_GROUPS),
        "flags": len(EXTENSION_FLAGS),
    }
    variables = []
    seen = set()

    def add(names):
        for n in names:
            if n not in seen:
                seen.add(n)
                variables.append(n)

    add(WGL_BASE + [v for v, _ in WGL_BASE_NEUTRAL])
    add(GLU)
    for _, names in core:
        add(names)
    for _, names in gl_groups + wgl_groups + WIN_GROUPS:
        add(names)
    check["variables"] = len(variables)
    problems = ["%s: %d, expected %d" % (k, check[k], v) for k, v in TOTALS.items()
                if check[k] != v]
    problems += ["%s: %d, expected %d" % (b, len(n), CORE_COUNTS[b]) for b, n in core
                 if len(n) != CORE_COUNTS[b]]
    if len(set(EXTENSION_FLAGS)) != len(EXTENSION_FLAGS):
        problems.append("an extension name is listed twice")
    if problems:
        raise RegistryError("the registry gives other totals:\n  " + "\n  ".join(problems))

    core_steps = []
    for block, _ in core:
        core_steps += CORE_BLOCK_GROUPS.get(block, [])
        core_steps.append(block)
    core_steps += CORE_TAIL_GROUPS
    return variables, core, core_steps, gl_groups, wgl_groups


def render(variables, core, core_steps, gl_groups, wgl_groups):
    out = []
    w = out.append
    w("// Generated by tools/gen_gl_entry_points.py from the GL and WGL registry; do not edit.")
    w("//")
    w("// The names the GL binding knows, as X-macros. Define the macros a use needs before")
    w("// including this file; the others expand to nothing, and all are undefined at its end.")
    w("//   GL_ENTRY_VARIABLE(name)         every entry-point variable once, 2,232 in all")
    w("//   GL_ENTRY_GROUP(kind, group)     starts a group; kind is WglBase, Glu, GlCore,")
    w("//                                   GlExtension, WglExtension or Win")
    w("//   GL_ENTRY_MEMBER(name)           a member resolved under its own name")
    w("//   GL_ENTRY_MEMBER_AS(name, symbol) a member resolved under another name")
    w("//   GL_ENTRY_GROUP_END(group)       ends a group")
    w("//   GL_ENTRY_CORE_STEP(group)       the groups the core resolution runs, in order")
    w("//   GL_EXTENSION_FLAG(name)         the extension names tested, in flag order")
    w("")
    for macro, args in [("GL_ENTRY_VARIABLE", "name"), ("GL_ENTRY_GROUP", "kind, group"),
                        ("GL_ENTRY_MEMBER", "name"), ("GL_ENTRY_MEMBER_AS", "name, symbol"),
                        ("GL_ENTRY_GROUP_END", "group"), ("GL_ENTRY_CORE_STEP", "group"),
                        ("GL_EXTENSION_FLAG", "name")]:
        w("#ifndef %s" % macro)
        w("#define %s(%s)" % (macro, args))
        w("#endif")
    w("")
    w("#ifndef GL_ENTRY_SKIP_VARIABLES")
    for n in variables:
        w("GL_ENTRY_VARIABLE(%s)" % n)
    w("#endif")
    w("")
    w("#ifndef GL_ENTRY_SKIP_GROUPS")

    def group(kind, name, members, aliases=()):
        w("GL_ENTRY_GROUP(%s, %s)" % (kind, name))
        for n in members:
            w("GL_ENTRY_MEMBER(%s)" % n)
        for n, symbol in aliases:
            w("GL_ENTRY_MEMBER_AS(%s, %s)" % (n, symbol))
        w("GL_ENTRY_GROUP_END(%s)" % name)

    group("WglBase", "WGL_VERSION_1_0", WGL_BASE, WGL_BASE_NEUTRAL)
    group("Glu", "GLU", GLU)
    for name, members in core:
        group("GlCore", name, members)
    for name, members in gl_groups:
        group("GlExtension", name, members)
    for name, members in wgl_groups:
        group("WglExtension", name, members)
    for name, members in WIN_GROUPS:
        group("Win", name, members)
    for step in core_steps:
        w("GL_ENTRY_CORE_STEP(%s)" % step)
    for name in EXTENSION_FLAGS:
        w("GL_EXTENSION_FLAG(%s)" % name)
    w("#endif")
    w("")
    for macro in ["GL_ENTRY_VARIABLE", "GL_ENTRY_GROUP", "GL_ENTRY_MEMBER", "GL_ENTRY_MEMBER_AS",
                  "GL_ENTRY_GROUP_END", "GL_ENTRY_CORE_STEP", "GL_EXTENSION_FLAG"]:
        w("#undef %s" % macro)
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--registry", default="/usr/share/khronos-api")
    parser.add_argument("--output", default=os.path.join(here, "..", "bind", "GLEntryPoints.inc"))
    parser.add_argument("--check", action="store_true",
                        help="compare with the output file instead of writing it")
    args = parser.parse_args()
    try:
        text = render(*build(args.registry))
    except (OSError, ET.ParseError, RegistryError, KeyError, ValueError) as error:
        print("gen_gl_entry_points: %s" % error, file=sys.stderr)
        return 1
    if args.check:
        try:
            with open(args.output) as f:
                same = f.read() == text
        except OSError:
            same = False
        print("up to date" if same else "%s differs from the registry's lists" % args.output)
        return 0 if same else 1
    with open(args.output, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
