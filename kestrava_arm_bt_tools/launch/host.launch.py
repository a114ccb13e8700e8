"""Starts bt_host alone, against a perception service that runs elsewhere.

    ros2 launch kestrava_arm_bt_tools host.launch.py [service:=NAME] [tree:=FILE] ...

The launch ends when the host ends; the host prints the tree's result and its blackboard.
With keystore:=DIR the host runs in its enclave of that keystore, with security enforced.
"""

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument, OpaqueFunction, SetEnvironmentVariable, Shutdown
from launch.substitutions import LaunchConfiguration, PathJoinSubstitution
from launch_ros.actions import Node
from launch_ros.substitutions import FindPackagePrefix, FindPackageShare

PACKAGE = 'kestrava_arm_bt_tools'
# The package of the plugin the host loads.
PLUGIN_PACKAGE = 'kestrava_arm_behavior_tree'


def host_arguments():
    examples = PathJoinSubstitution([FindPackageShare(PACKAGE), 'examples'])
    return [
        DeclareLaunchArgument(
            'tree', default_value=PathJoinSubstitution([examples, 'detect_toilet.xml']),
            description='the tree to run (BehaviorTree.CPP v4 XML)'),
        DeclareLaunchArgument(
            'task_info', default_value='task_uid:42;task_name:bowl',
            description='the task, as task_uid:<id>;task_name:<name>'),
        DeclareLaunchArgument(
            'service', default_value='/arm_perception_common',
            description='name of the perception service'),
        DeclareLaunchArgument(
            'tick_period_ms', default_value='50', description='tick period in milliseconds'),
        DeclareLaunchArgument(
            'deadline_ms', default_value='30000',
            description='halt the tree if it still runs after this many milliseconds; 0: never'),
        DeclareLaunchArgument(
            'introspection', default_value='off',
            description='service events of the perception link: off, metadata or contents '
                        '(ROS 2 Jazzy on)'),
    ]


def security_settings():
    """With keystore:=DIR, ROS 2 security enforced for every process started after these.

    Without it, the processes keep the security settings of the environment. The settings stay
    set for a launch file that includes this one, so that its processes run secured too.
    """
    return [
        DeclareLaunchArgument(
            'keystore', default_value='',
            description='SROS2 keystore of the enclaves (make-keystore.sh); empty: the security '
                        'settings of the environment, none by default'),
        OpaqueFunction(function=security_variables),
    ]


def security_variables(context):
    # Decided here rather than by a launch condition: Humble has no condition that compares a
    # launch argument with a value and Jazzy deprecates the ones it has.
    keystore = LaunchConfiguration('keystore').perform(context)
    if not keystore:
        return []
    return [
        SetEnvironmentVariable('ROS_SECURITY_KEYSTORE', keystore),
        SetEnvironmentVariable('ROS_SECURITY_ENABLE', 'true'),
        # Permissive would run a process without security when its enclave is missing.
        SetEnvironmentVariable('ROS_SECURITY_STRATEGY', 'Enforce'),
    ]


def host_node():
    plugin = PathJoinSubstitution(
        [FindPackagePrefix(PLUGIN_PACKAGE), 'lib', 'libdetect_toilet_info_node.so'])
    return Node(
        package=PACKAGE,
        executable='bt_host',
        output='screen',
        arguments=[
            '--plugin', plugin,
            '--tree', LaunchConfiguration('tree'),
            '--set', ['task_info=', LaunchConfiguration('task_info')],
            '--service', LaunchConfiguration('service'),
            '--tick-period-ms', LaunchConfiguration('tick_period_ms'),
            '--deadline-ms', LaunchConfiguration('deadline_ms'),
            '--introspection', LaunchConfiguration('introspection'),
        ],
        ros_arguments=['--enclave', '/kestrava/bt_host'],
        on_exit=Shutdown(reason='bt_host ended'))


def generate_launch_description():
    return LaunchDescription(host_arguments() + security_settings() + [host_node()])
